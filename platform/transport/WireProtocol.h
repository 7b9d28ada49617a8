#pragma once

#include "shared/HelperProtocol.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The messages between the application and the helper. A connection carries
// frames in both directions: a 4-byte big-endian length, then that many bytes
// of one binary property list.
namespace Wire {

// The socket that stands in for a Mach service of this name.
inline constexpr std::string_view socketFolder = "/var/run/";
std::string socketPath(std::string_view machServiceName);

inline constexpr std::size_t headerLength = 4;
// Frames announcing a longer body are refused before any of it is read.
inline constexpr uint32_t maxBodyLength = 16u << 20;
// What the objects of one property list from outside may add up to, each
// counted once for every reference to it (BinaryPropertyList::read). A list
// over it is refused before anything of it is copied.
inline constexpr std::size_t messageBudget = 4 * std::size_t{maxBodyLength};

// The protocol's vocabulary, as the wire carries it. A truth value arrives as
// a boolean or as an integer (true when non-zero); texts are exactly what was
// sent, NUL included, as UTF-8; anything else arrives as absent.
using HelperProtocol::Argument;
using HelperProtocol::info;
using HelperProtocol::ReplyValue;
using HelperProtocol::Selector;
using HelperProtocol::SelectorInfo;
using HelperProtocol::selectorNamed;
using HelperProtocol::selectors;
using HelperProtocol::TextDictionary;

struct Request {
    uint64_t id = 0;
    Selector selector = Selector::version;
    std::vector<Argument> arguments;  // at most info(selector).arity
};

// The protocol's argument conversions, applied to a request's arguments.
inline std::string textArgument(const Request& request, std::size_t index) {
    return HelperProtocol::textArgument(request.arguments, index);
}
inline std::vector<std::string> textListArgument(const Request& request, std::size_t index) {
    return HelperProtocol::textListArgument(request.arguments, index);
}
inline bool flagArgument(const Request& request, std::size_t index) {
    return HelperProtocol::flagArgument(request.arguments, index);
}

struct Reply {
    uint64_t id = 0;
    ReplyValue value;
};

// Whole frames, length header included.
std::string encodeRequest(const Request& request);
std::string encodeReply(const Reply& reply);
// The frame of a reply in place of `frame`'s contents, reusing its memory.
void encodeReply(uint64_t id, const ReplyValue& value, std::string& frame);

// Frame bodies. Nothing when the body is not a binary property list or the
// message has the wrong shape: among others, a string anywhere in it that is
// not well-formed, a path list with an element that is not a string,
// objects over the message budget. A reply's dictionary keys keep every byte.
std::optional<Request> decodeRequest(std::string_view body);
std::optional<Reply> decodeReply(std::string_view body);

// The body length a frame header announces.
uint32_t bodyLength(const unsigned char (&header)[headerLength]) noexcept;

}  // namespace Wire

#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
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

// The operations of the protocol, in declaration order.
enum class Selector {
    removeItems,
    removeChosenItems,
    unloadLaunchDaemon,
    version,
    setMotionSensor,
    resetPrivacyPermission,
    setLaunchJob,
};

struct SelectorInfo {
    Selector selector;
    std::string_view name;  // spelled as in the protocol, e.g. "versionWithReply:"
    std::size_t arity;      // arguments before the reply block
};

const std::array<SelectorInfo, 7>& selectors();
const SelectorInfo& info(Selector selector);
std::optional<Selector> selectorNamed(std::string_view name);

// One argument as it arrived: a text, a truth value (a boolean, or an integer
// that is true when non-zero), or a list of texts. Anything else arrives as
// absent (monostate). Texts are exactly what was sent, NUL included, as UTF-8.
using Argument = std::variant<std::monostate, std::string, bool, std::vector<std::string>>;

struct Request {
    uint64_t id = 0;
    Selector selector = Selector::version;
    std::vector<Argument> arguments;  // at most info(selector).arity
};

// The conversions of an argument to the type an operation declares; a missing
// argument or one of another type gives the empty text, the empty list, false.
std::string textArgument(const Request& request, std::size_t index);
std::vector<std::string> textListArgument(const Request& request, std::size_t index);
bool flagArgument(const Request& request, std::size_t index);

// The reply block's one argument: nothing (a nil text), a text, a dictionary of
// texts, or a truth value.
using TextDictionary = std::map<std::string, std::string>;
using ReplyValue = std::variant<std::monostate, std::string, TextDictionary, bool>;

struct Reply {
    uint64_t id = 0;
    ReplyValue value;
};

// Whole frames, length header included.
std::string encodeRequest(const Request& request);
std::string encodeReply(const Reply& reply);

// Frame bodies. Nothing when the body is not a binary property list or the
// message has the wrong shape: among others, a string anywhere in it that is
// not well-formed, a path list with an element that is not a string,
// objects over the message budget. A reply's dictionary keys keep every byte.
std::optional<Request> decodeRequest(std::string_view body);
std::optional<Reply> decodeReply(std::string_view body);

// The body length a frame header announces.
uint32_t bodyLength(const unsigned char (&header)[headerLength]) noexcept;

}  // namespace Wire

// Arbitrary bytes as what a client sends: a stream of frames read by the
// helper's frame reader, each body decoded as a request. Whatever decodes is
// converted the way the request surface converts arguments, encoded again,
// and must decode to exactly the same message, every text byte for byte; so
// must the replies that echo its texts, and any body that decodes as a reply.

#include "FuzzCheck.h"
#include "platform/transport/FrameStream.h"
#include "platform/transport/WireProtocol.h"
#include "shared/UniqueFd.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace {

constexpr auto check = fuzzCheck;

// The body of a whole frame, after checking its header.
std::string_view bodyOf(const std::string& frame) {
    check(frame.size() >= Wire::headerLength, "frame shorter than its header");
    unsigned char header[Wire::headerLength];
    __builtin_memcpy(header, frame.data(), Wire::headerLength);
    check(Wire::bodyLength(header) == frame.size() - Wire::headerLength, "header length differs from the body");
    return std::string_view(frame).substr(Wire::headerLength);
}

// What the request surface does with a request: every operation converts its
// arguments to the declared types, and never reads past them.
void convertArguments(const Wire::Request& request) {
    check(request.arguments.size() <= Wire::info(request.selector).arity, "more arguments than the selector takes");
    for (std::size_t i = 0; i <= Wire::info(request.selector).arity; ++i) {
        (void)Wire::textArgument(request, i);
        (void)Wire::textListArgument(request, i);
        (void)Wire::flagArgument(request, i);
    }
}

void roundTripRequest(const Wire::Request& request) {
    const std::string frame = Wire::encodeRequest(request);
    const auto again = Wire::decodeRequest(bodyOf(frame));
    check(again.has_value(), "an encoded request does not decode");
    check(again->id == request.id && again->selector == request.selector, "request id or selector changed");
    check(again->arguments.size() == request.arguments.size(), "request argument count changed");
    for (std::size_t i = 0; i < request.arguments.size(); ++i)
        check(request.arguments[i] == again->arguments[i], "request argument changed");
}

void roundTripReply(const Wire::Reply& reply) {
    const std::string frame = Wire::encodeReply(reply);
    const auto again = Wire::decodeReply(bodyOf(frame));
    check(again.has_value(), "an encoded reply does not decode");
    check(again->id == reply.id && again->value == reply.value, "reply changed");
}

// The replies the helper could make from a request: its texts echoed back as
// a dictionary's keys and values (as removal replies name the paths sent), as
// a text, and a truth value.
void roundTripEchoes(const Wire::Request& request) {
    Wire::TextDictionary echoed;
    std::string last;
    for (std::size_t i = 0; i < request.arguments.size(); ++i) {
        for (const auto& text : Wire::textListArgument(request, i)) echoed.insert_or_assign(text, last = text);
        if (const auto text = Wire::textArgument(request, i); !text.empty()) echoed.insert_or_assign(text, last = text);
    }
    roundTripReply({request.id, echoed});
    roundTripReply({request.id, last});
    roundTripReply({request.id, Wire::flagArgument(request, 0)});
    roundTripReply({request.id, std::monostate{}});
}

// Bodies are decoded the way the helper decodes them, as requests, and the
// way a client decodes them, as replies.
void decodeBody(std::string_view body) {
    if (auto request = Wire::decodeRequest(body)) {
        convertArguments(*request);
        roundTripRequest(*request);
        roundTripEchoes(*request);
    }
    if (auto reply = Wire::decodeReply(body)) roundTripReply(*reply);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    // What fits a socket's buffer is written at once, then the sending side is
    // closed, as by a client that half-closes after its last frame.
    if (size > 64 * 1024) return -1;
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) fuzzFailure("socketpair");
    UniqueFd helperSide(ends[0]);
    UniqueFd clientSide(ends[1]);
    check(FrameStream::writeAll(clientSide.get(), std::string_view(reinterpret_cast<const char*>(data), size)),
          "writing the input");
    ::shutdown(clientSide.get(), SHUT_WR);

    FrameStream::Reader reader(helperSide.get());
    std::string body;
    std::size_t consumed = 0;
    for (;;) {
        const auto status = reader.next(body);
        if (status != FrameStream::ReadStatus::frame) {
            check(status == FrameStream::ReadStatus::broken || consumed == size, "stream ended inside a frame");
            break;
        }
        consumed += Wire::headerLength + body.size();
        check(consumed <= size, "reader returned more than was sent");
        decodeBody(body);
    }

    // The whole input as one body, too: most inputs are not a stream of frames.
    decodeBody(std::string_view(reinterpret_cast<const char*>(data), size));
    return 0;
}

// Arbitrary bytes as what a client sends: a stream of frames read by the
// helper's frame reader, each body decoded as a request and as a reply.
// Whatever decodes is encoded again and must decode to exactly the same
// message, every text byte for byte; so must a reply that echoes a request's
// texts as a dictionary's keys and values (as removal replies name the paths
// sent). A request never holds more arguments than its selector takes.

#include "FuzzCheck.h"
#include "platform/transport/FrameStream.h"
#include "platform/transport/WireProtocol.h"
#include "shared/UniqueFd.h"

#include <sys/socket.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace {

std::string_view bodyOf(const std::string& frame) {
    fuzzCheck(frame.size() >= Wire::headerLength, "frame shorter than its header");
    unsigned char header[Wire::headerLength];
    __builtin_memcpy(header, frame.data(), Wire::headerLength);
    fuzzCheck(Wire::bodyLength(header) == frame.size() - Wire::headerLength, "header length differs from the body");
    return std::string_view(frame).substr(Wire::headerLength);
}

void roundTripReply(const Wire::Reply& reply) {
    const auto again = Wire::decodeReply(bodyOf(Wire::encodeReply(reply)));
    fuzzCheck(again && again->id == reply.id && again->value == reply.value, "a reply changed on its way");
}

void decodeBody(std::string_view body) {
    if (const auto request = Wire::decodeRequest(body)) {
        fuzzCheck(request->arguments.size() <= Wire::info(request->selector).arity,
                  "more arguments than the selector takes");
        const auto again = Wire::decodeRequest(bodyOf(Wire::encodeRequest(*request)));
        fuzzCheck(again && again->id == request->id && again->selector == request->selector &&
                      again->arguments == request->arguments,
                  "a request changed on its way");
        Wire::TextDictionary echoed;
        for (std::size_t i = 0; i < request->arguments.size(); ++i) {
            for (const auto& text : Wire::textListArgument(*request, i)) echoed.insert_or_assign(text, text);
            echoed.insert_or_assign(Wire::textArgument(*request, i), Wire::textArgument(*request, i));
        }
        roundTripReply({request->id, echoed});
    }
    if (const auto reply = Wire::decodeReply(body)) roundTripReply(*reply);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    // What fits a socket's buffer is written at once, then the sending side is
    // closed, as by a client that half-closes after its last frame.
    if (size > 64 * 1024) return -1;
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) fuzzFailure("socketpair");
    const UniqueFd helperSide(ends[0]), clientSide(ends[1]);
    fuzzCheck(FrameStream::writeAll(clientSide.get(), input), "writing the input");
    ::shutdown(clientSide.get(), SHUT_WR);
    FrameStream::Reader reader(helperSide.get());
    std::string body;
    std::size_t consumed = 0;
    FrameStream::ReadStatus status;
    while ((status = reader.next(body)) == FrameStream::ReadStatus::frame) {
        consumed += Wire::headerLength + body.size();
        fuzzCheck(consumed <= size, "reader returned more than was sent");
        decodeBody(body);
    }
    fuzzCheck(status == FrameStream::ReadStatus::broken || consumed == size, "stream ended inside a frame");
    decodeBody(input);  // the whole input as one body, too: most inputs are not a stream of frames
    return 0;
}

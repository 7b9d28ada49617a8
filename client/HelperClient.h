#pragma once

#include "platform/transport/FrameStream.h"
#include "platform/transport/WireProtocol.h"
#include "shared/UniqueFd.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// The application's side of one connection to the helper. Requests carry ids
// chosen here; several may be in flight, and each reply names its request.
// One thread may send while another receives.
class HelperClient {
public:
    // The helper's socket: SORVANE_HELPER_SOCKET when set (for tests), the
    // service's own path otherwise.
    static std::string socketPath();

    // Connects to the socket; nothing when the helper cannot be reached.
    static std::unique_ptr<HelperClient> connect(const std::string& path);

    explicit HelperClient(UniqueFd socket);

    // Sends one request and returns its id; nothing when the connection is gone.
    std::optional<uint64_t> send(HelperProtocol::Selector selector,
                                 const std::vector<HelperProtocol::Argument>& arguments);

    // The same in two steps, for a caller that must know the id before the
    // reply can arrive: a fresh id, then the request sent under it.
    uint64_t newRequestID();
    bool send(uint64_t id, HelperProtocol::Selector selector, const std::vector<HelperProtocol::Argument>& arguments);

    // The next reply to arrive; nothing once the helper has closed or dropped
    // the connection, or sent something that is not a reply.
    std::optional<Wire::Reply> receive();

    // Waits for the reply to the request `id`; replies to other requests that
    // arrive meanwhile are kept for their own waits.
    std::optional<HelperProtocol::ReplyValue> await(uint64_t id);

    // Sends one request and waits for its reply.
    std::optional<HelperProtocol::ReplyValue> call(HelperProtocol::Selector selector,
                                                   const std::vector<HelperProtocol::Argument>& arguments);

    // Closes the sending side: the helper answers what it has received, then closes.
    void finishSending();

private:
    UniqueFd socket_;
    FrameStream::Reader reader_;
    std::atomic<uint64_t> nextID_{1};
    std::map<uint64_t, HelperProtocol::ReplyValue> early_;
};

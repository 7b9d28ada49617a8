#include "client/HelperClient.h"

#include "shared/HelperConstants.h"

#include <sys/socket.h>
#include <sys/un.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

std::string HelperClient::socketPath() {
    if (const char* path = std::getenv("SORVANE_HELPER_SOCKET"); path != nullptr && *path != '\0') return path;
    return Wire::socketPath(HelperConstants::machServiceName);
}

std::unique_ptr<HelperClient> HelperClient::connect(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) return nullptr;
    std::memcpy(address.sun_path, path.data(), path.size());
    UniqueFd socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!socket) return nullptr;
    int result;
    do {
        result = ::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address);
    } while (result != 0 && errno == EINTR);
    if (result != 0) return nullptr;
    return std::make_unique<HelperClient>(std::move(socket));
}

HelperClient::HelperClient(UniqueFd socket) : socket_(std::move(socket)), reader_(socket_.get()) {}

uint64_t HelperClient::newRequestID() { return nextID_++; }

bool HelperClient::send(uint64_t id, HelperProtocol::Selector selector,
                        const std::vector<HelperProtocol::Argument>& arguments) {
    Wire::Request request;
    request.id = id;
    request.selector = selector;
    request.arguments = arguments;
    return FrameStream::writeAll(socket_.get(), Wire::encodeRequest(request));
}

std::optional<uint64_t> HelperClient::send(HelperProtocol::Selector selector,
                                           const std::vector<HelperProtocol::Argument>& arguments) {
    const uint64_t id = newRequestID();
    if (!send(id, selector, arguments)) return std::nullopt;
    return id;
}

std::optional<Wire::Reply> HelperClient::receive() {
    std::string body;
    if (reader_.next(body) != FrameStream::ReadStatus::frame) return std::nullopt;
    return Wire::decodeReply(body);
}

std::optional<HelperProtocol::ReplyValue> HelperClient::await(uint64_t id) {
    if (auto kept = early_.find(id); kept != early_.end()) {
        auto value = std::move(kept->second);
        early_.erase(kept);
        return value;
    }
    while (auto reply = receive()) {
        if (reply->id == id) return std::move(reply->value);
        early_.insert_or_assign(reply->id, std::move(reply->value));
    }
    return std::nullopt;
}

std::optional<HelperProtocol::ReplyValue> HelperClient::call(HelperProtocol::Selector selector,
                                                             const std::vector<HelperProtocol::Argument>& arguments) {
    const auto id = send(selector, arguments);
    if (!id) return std::nullopt;
    return await(*id);
}

void HelperClient::finishSending() { ::shutdown(socket_.get(), SHUT_WR); }

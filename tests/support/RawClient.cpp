#include "support/RawClient.h"

#include "support/SandboxUsers.h"

#include <gtest/gtest.h>
#include <plist/plist.h>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

struct PlistDeleter {
    void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
};
using Plist = std::unique_ptr<void, PlistDeleter>;

plist_t toPlist(const nlohmann::json& value) {
    switch (value.type()) {
    case nlohmann::json::value_t::object: {
        if (value.size() == 1 && value.contains("$data") && value["$data"].is_string()) {
            const std::string bytes = value["$data"];
            return plist_new_data(bytes.data(), bytes.size());
        }
        plist_t dict = plist_new_dict();
        for (const auto& [key, item] : value.items()) plist_dict_set_item(dict, key.c_str(), toPlist(item));
        return dict;
    }
    case nlohmann::json::value_t::array: {
        plist_t array = plist_new_array();
        for (const auto& item : value) plist_array_append_item(array, toPlist(item));
        return array;
    }
    case nlohmann::json::value_t::string: return plist_new_string(value.get<std::string>().c_str());
    case nlohmann::json::value_t::boolean: return plist_new_bool(value.get<bool>() ? 1 : 0);
    case nlohmann::json::value_t::number_unsigned:
    case nlohmann::json::value_t::number_integer: return plist_new_uint(value.get<uint64_t>());
    case nlohmann::json::value_t::number_float: return plist_new_real(value.get<double>());
    default: return plist_new_string("");
    }
}

nlohmann::json fromPlist(plist_t node) {
    switch (plist_get_node_type(node)) {
    case PLIST_DICT: {
        nlohmann::json object = nlohmann::json::object();
        plist_dict_iter iter = nullptr;
        plist_dict_new_iter(node, &iter);
        for (;;) {
            char* key = nullptr;
            plist_t item = nullptr;
            plist_dict_next_item(node, iter, &key, &item);
            if (!item) break;
            object[key] = fromPlist(item);
            std::free(key);
        }
        std::free(iter);
        return object;
    }
    case PLIST_ARRAY: {
        nlohmann::json array = nlohmann::json::array();
        for (uint32_t i = 0; i < plist_array_get_size(node); ++i) array.push_back(fromPlist(plist_array_get_item(node, i)));
        return array;
    }
    case PLIST_STRING: {
        char* text = nullptr;
        plist_get_string_val(node, &text);
        nlohmann::json value = std::string(text ? text : "");
        std::free(text);
        return value;
    }
    case PLIST_BOOLEAN: {
        uint8_t flag = 0;
        plist_get_bool_val(node, &flag);
        return flag != 0;
    }
    case PLIST_UINT: {
        uint64_t number = 0;
        plist_get_uint_val(node, &number);
        return number;
    }
    default: return {{"$unexpected", static_cast<int>(plist_get_node_type(node))}};
    }
}

}  // namespace

RawClient::RawClient() {
    fd_.reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, SandboxUsers::helperSocketPath, sizeof address.sun_path - 1);
    if (!fd_ || ::connect(fd_.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ADD_FAILURE() << "connecting to " << SandboxUsers::helperSocketPath << ": " << std::strerror(errno);
        fd_.reset();
    }
}

std::string RawClient::binaryPlist(const nlohmann::json& message) {
    Plist node(toPlist(message));
    char* bytes = nullptr;
    uint32_t length = 0;
    plist_to_bin(static_cast<plist_t>(node.get()), &bytes, &length);
    std::string body(bytes, length);
    plist_to_bin_free(bytes);
    return body;
}

std::string RawClient::frame(const std::string& body) {
    const auto n = static_cast<uint32_t>(body.size());
    std::string header{static_cast<char>(n >> 24), static_cast<char>(n >> 16), static_cast<char>(n >> 8),
                       static_cast<char>(n)};
    return header + body;
}

nlohmann::json RawClient::request(uint64_t id, const std::string& selector, nlohmann::json arguments) {
    return {{"id", id}, {"selector", selector}, {"arguments", std::move(arguments)}};
}

bool RawClient::sendBytes(const std::string& bytes) {
    std::size_t sent = 0;
    while (fd_ && sent < bytes.size()) {
        const ssize_t n = ::send(fd_.get(), bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        sent += static_cast<std::size_t>(n);
    }
    return fd_.valid();
}

void RawClient::closeWriting() { ::shutdown(fd_.get(), SHUT_WR); }

bool RawClient::readExactly(char* into, std::size_t count, std::chrono::steady_clock::time_point deadline,
                            Status& status) {
    std::size_t got = 0;
    while (got < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            status = Status::timedOut;
            return false;
        }
        pollfd p{fd_.get(), POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready == 0) continue;
        const ssize_t n = ::recv(fd_.get(), into + got, count - got, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            status = got == 0 ? Status::closed : Status::malformed;
            return false;
        }
        got += static_cast<std::size_t>(n);
    }
    return true;
}

RawClient::Received RawClient::receive(std::chrono::milliseconds timeout) {
    Received received;
    if (!fd_) {
        received.status = Status::closed;
        return received;
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    unsigned char header[4];
    if (!readExactly(reinterpret_cast<char*>(header), 4, deadline, received.status)) return received;
    const uint32_t length = uint32_t{header[0]} << 24 | uint32_t{header[1]} << 16 | uint32_t{header[2]} << 8 | header[3];
    if (length > (16u << 20)) {
        received.status = Status::malformed;
        return received;
    }
    std::string body(length, '\0');
    if (!readExactly(body.data(), length, deadline, received.status)) {
        if (received.status == Status::closed) received.status = Status::malformed;
        return received;
    }
    plist_t node = nullptr;
    plist_from_bin(body.data(), length, &node);
    if (!node) {
        received.status = Status::malformed;
        return received;
    }
    Plist owner(node);
    received.message = fromPlist(node);
    received.status = Status::reply;
    return received;
}

bool RawClient::closedWithoutReply(std::chrono::milliseconds timeout) {
    const Received received = receive(timeout);
    EXPECT_NE(received.status, Status::reply) << "unexpected reply: " << received.message.dump();
    return received.status == Status::closed;
}

bool RawClient::quietFor(std::chrono::milliseconds timeout) {
    pollfd p{fd_.get(), POLLIN, 0};
    return ::poll(&p, 1, static_cast<int>(timeout.count())) == 0;
}

bool RawClient::versionAnswered(uint64_t id) {
    if (!sendMessage(request(id, "versionWithReply:", nlohmann::json::array()))) return false;
    const Received received = receive();
    return received.status == Status::reply && received.message.value("id", uint64_t{0}) == id &&
           received.message.value("reply", std::string()) == "1.6";
}

std::ostream& operator<<(std::ostream& out, RawClient::Status status) {
    switch (status) {
    case RawClient::Status::reply: return out << "reply";
    case RawClient::Status::closed: return out << "closed";
    case RawClient::Status::timedOut: return out << "timed out";
    case RawClient::Status::malformed: return out << "malformed";
    }
    return out;
}

#pragma once

#include "shared/UniqueFd.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

// A client that speaks the helper's wire format by hand, for malformed and
// hostile input: frames are a 4-byte big-endian length and a binary property
// list. The helper admits it only when this very executable carries the
// client identity and is installed as root (see tests/CMakeLists.txt).
//
// Messages are written as JSON and turned into property lists: objects become
// dictionaries, arrays arrays, strings strings, booleans booleans, unsigned
// integers integers, and a string wrapped as {"$data": "..."} becomes data.
class RawClient {
public:
    // Connects to the helper's socket; fails the test when that is impossible.
    RawClient();

    bool connected() const { return fd_.valid(); }
    int fd() const { return fd_.get(); }

    static std::string binaryPlist(const nlohmann::json& message);
    static std::string frame(const std::string& body);
    static nlohmann::json request(uint64_t id, const std::string& selector, nlohmann::json arguments);

    bool sendBytes(const std::string& bytes);
    bool sendMessage(const nlohmann::json& message) { return sendBytes(frame(binaryPlist(message))); }
    void closeWriting();

    enum class Status { reply, closed, timedOut, malformed };
    struct Received {
        Status status = Status::timedOut;
        nlohmann::json message;  // the decoded reply when status is `reply`
    };
    // Waits up to `timeout` for the next reply frame, or for the helper to close.
    Received receive(std::chrono::milliseconds timeout = std::chrono::seconds(10));

    // True when the helper closes the connection within `timeout` without sending anything.
    bool closedWithoutReply(std::chrono::milliseconds timeout = std::chrono::seconds(10));

    // True when nothing at all arrives within `timeout` (the helper keeps the connection).
    bool quietFor(std::chrono::milliseconds timeout);

    // Sends a version request and waits for its answer: whether the helper serves this connection.
    bool versionAnswered(uint64_t id = 9999);

private:
    bool readExactly(char* into, std::size_t count, std::chrono::steady_clock::time_point deadline, Status& status);

    UniqueFd fd_;
};

std::ostream& operator<<(std::ostream& out, RawClient::Status status);

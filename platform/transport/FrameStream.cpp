#include "platform/transport/FrameStream.h"

#include "platform/transport/WireProtocol.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace FrameStream {

namespace {

constexpr std::size_t chunk = 16 * 1024;

}  // namespace

bool Reader::fill(std::size_t wanted) {
    while (end_ - start_ < wanted) {
        if (start_ > 0 && start_ + wanted > buffer_.size()) {
            std::memmove(buffer_.data(), buffer_.data() + start_, end_ - start_);
            end_ -= start_;
            start_ = 0;
        }
        // The buffer grows a chunk at a time: a body takes memory as it
        // arrives, not as its header announces it.
        const std::size_t size = std::max(chunk, std::min(start_ + wanted, end_ + chunk));
        if (buffer_.size() < size) buffer_.resize(size);
        const ssize_t count = ::recv(fd_, buffer_.data() + end_, buffer_.size() - end_, 0);
        if (count > 0) {
            end_ += static_cast<std::size_t>(count);
            continue;
        }
        if (count < 0 && errno == EINTR) continue;
        failed_ = count < 0;
        return false;
    }
    return true;
}

ReadStatus Reader::next(std::string& body) {
    if (start_ == end_) {
        start_ = end_ = 0;
        // A large body is not kept around once it has been handed out.
        if (buffer_.size() > 4 * chunk) std::vector<char>().swap(buffer_);
    }
    if (!fill(Wire::headerLength)) {
        return !failed_ && end_ == start_ ? ReadStatus::ended : ReadStatus::broken;
    }
    unsigned char header[Wire::headerLength];
    std::memcpy(header, buffer_.data() + start_, Wire::headerLength);
    const uint32_t length = Wire::bodyLength(header);
    if (length > Wire::maxBodyLength) return ReadStatus::broken;
    if (!fill(Wire::headerLength + length)) return ReadStatus::broken;
    body.assign(buffer_.data() + start_ + Wire::headerLength, length);
    start_ += Wire::headerLength + length;
    return ReadStatus::frame;
}

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t count = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (count < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(count));
    }
    return true;
}

bool writeAllBefore(int fd, std::string_view bytes, std::chrono::steady_clock::time_point deadline) {
    while (!bytes.empty()) {
        const ssize_t count = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (count >= 0) {
            bytes.remove_prefix(static_cast<std::size_t>(count));
            continue;
        }
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return false;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd waiting{fd, POLLOUT, 0};
        if (::poll(&waiting, 1, static_cast<int>(left.count())) < 0 && errno != EINTR) return false;
    }
    return true;
}

}  // namespace FrameStream

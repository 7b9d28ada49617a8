#pragma once

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

// Reading and writing whole frames on a stream socket.
namespace FrameStream {

enum class ReadStatus {
    frame,   // one body was read
    ended,   // the peer closed its side at a frame boundary
    broken,  // read error, a frame cut short, or a length above the limit
};

// Reads frames from one descriptor, keeping what arrives beyond the current
// frame for the next call. Not thread-safe; one reader per descriptor.
class Reader {
public:
    explicit Reader(int fd) : fd_(fd) {}

    // Blocks until a whole frame has arrived; on `frame` the body is in `body`.
    ReadStatus next(std::string& body);

private:
    bool fill(std::size_t wanted);  // false: end of file or error before `wanted` bytes were buffered

    int fd_;
    std::vector<char> buffer_;  // bytes [start_, end_) have arrived and are not yet handed out
    std::size_t start_ = 0;
    std::size_t end_ = 0;
    bool failed_ = false;  // the last fill stopped on an error rather than at end of file
};

// Writes all bytes, blocking as long as the peer does not read.
bool writeAll(int fd, std::string_view bytes);

// Writes all bytes, giving up once `deadline` has passed; a frame written
// only in part leaves the stream unusable.
bool writeAllBefore(int fd, std::string_view bytes, std::chrono::steady_clock::time_point deadline);

}  // namespace FrameStream

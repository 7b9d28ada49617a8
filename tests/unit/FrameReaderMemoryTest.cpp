// A frame header may announce a body of up to 16 MiB; the reader must not
// take that much memory before the bytes arrive, or a few connections that
// announce large bodies and send nothing would exhaust the helper's memory.

#include "platform/transport/FrameStream.h"
#include "platform/transport/WireProtocol.h"
#include "shared/UniqueFd.h"

#include <gtest/gtest.h>

#include <sys/socket.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>

namespace {

long residentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    return -1;
}

TEST(FrameReaderMemory, AnAnnouncedBodyTakesMemoryOnlyAsItArrives) {
    int ends[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends), 0);
    UniqueFd reading(ends[0]);
    UniqueFd writing(ends[1]);
    const uint32_t length = Wire::maxBodyLength;
    const char header[] = {static_cast<char>(length >> 24), static_cast<char>(length >> 16),
                           static_cast<char>(length >> 8), static_cast<char>(length)};
    ASSERT_TRUE(FrameStream::writeAll(writing.get(), std::string(header, sizeof header) + "bplist00"));

    const long before = residentKiB();
    FrameStream::ReadStatus status = FrameStream::ReadStatus::frame;
    std::thread reader([&] {
        FrameStream::Reader frames(reading.get());
        std::string body;
        status = frames.next(body);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the reader now waits for the body
    const long waiting = residentKiB();
    writing = UniqueFd();
    reader.join();

    EXPECT_EQ(status, FrameStream::ReadStatus::broken);
    EXPECT_LT(waiting - before, 4 * 1024) << "KiB taken for a body of which 8 bytes arrived";
}

}  // namespace

// A client of the running helper for the daemon's benchmarks; it must be
// admitted, so it carries the client identity and is run from a root-owned
// folder inside the sandbox (see bench/run/version-*, helper-idle-rss).
//
//   HelperClientBench [--socket PATH] latency COUNT     one connection, COUNT version round trips
//   HelperClientBench [--socket PATH] throughput CONNECTIONS MILLISECONDS [IN_FLIGHT]
//   HelperClientBench connections COUNT        COUNT connections, one after the other
//   HelperClientBench remove-list COUNT        one removal request of COUNT missing paths
//
// --socket talks to another server (the floor server) the same way.
// Prints one JSON object with the figures.
#include "platform/transport/FrameStream.h"
#include "platform/transport/WireProtocol.h"
#include "shared/HelperConstants.h"
#include "shared/UniqueFd.h"

#include <sys/socket.h>
#include <sys/un.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "HelperClientBench: %s: %s\n", what, std::strerror(errno));
    std::exit(1);
}

UniqueFd connectTo(const std::string& socketPath) {
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
    if (!fd || ::connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) fail("connect");
    return fd;
}

std::string versionFrame(uint64_t id) {
    Wire::Request request;
    request.id = id;
    request.selector = Wire::Selector::version;
    return Wire::encodeRequest(request);
}

// Reads one reply and checks that it is the version answer.
void expectVersion(FrameStream::Reader& reader) {
    std::string body;
    if (reader.next(body) != FrameStream::ReadStatus::frame) fail("the helper closed the connection");
    const auto reply = Wire::decodeReply(body);
    const auto* text = reply ? std::get_if<std::string>(&reply->value) : nullptr;
    if (!text || *text != "1.6") {
        errno = EPROTO;
        fail("unexpected reply");
    }
}

double percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(index, values.size() - 1)];
}

int latency(const std::string& socketPath, long count) {
    UniqueFd fd = connectTo(socketPath);
    FrameStream::Reader reader(fd.get());
    std::vector<double> micros;
    micros.reserve(static_cast<std::size_t>(count));
    const long warmUp = std::min(1000L, count);
    for (long i = 0; i < warmUp + count; ++i) {
        const std::string frame = versionFrame(static_cast<uint64_t>(i));
        const auto start = Clock::now();
        if (!FrameStream::writeAll(fd.get(), frame)) fail("write");
        expectVersion(reader);
        const std::chrono::duration<double, std::micro> took = Clock::now() - start;
        if (i >= warmUp) micros.push_back(took.count());
    }
    std::printf("{\"p50\": %.1f, \"p99\": %.1f, \"count\": %ld}\n", percentile(micros, 0.50), percentile(micros, 0.99),
                count);
    return 0;
}

// Each connection's count of answers, on a cache line of its own: the threads
// that count run on different processors.
struct alignas(64) AnswerCount {
    std::atomic<long> value{0};
};

// Besides the whole run's rate, the rate of each half second ("windows"): how
// long the connections took to settle shows there.
int throughput(const std::string& socketPath, int connections, long milliseconds, int inFlight) {
    constexpr auto window = std::chrono::milliseconds(500);
    std::atomic<bool> stop{false};
    std::vector<AnswerCount> answered(static_cast<std::size_t>(connections));
    const auto answeredSoFar = [&answered] {
        long sum = 0;
        for (const auto& count : answered) sum += count.value.load(std::memory_order_relaxed);
        return sum;
    };
    std::vector<std::thread> clients;
    for (auto& count : answered) {
        clients.emplace_back([&stop, &socketPath, &count, inFlight] {
            UniqueFd fd = connectTo(socketPath);
            FrameStream::Reader reader(fd.get());
            uint64_t id = 0;
            std::string frames;
            for (int i = 0; i < inFlight; ++i) frames += versionFrame(++id);
            if (!FrameStream::writeAll(fd.get(), frames)) fail("write");
            while (!stop.load(std::memory_order_relaxed)) {
                expectVersion(reader);
                count.value.store(count.value.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
                if (!FrameStream::writeAll(fd.get(), versionFrame(++id))) fail("write");
            }
            for (int i = 0; i < inFlight; ++i) expectVersion(reader);
        });
    }
    const auto start = Clock::now();
    const auto end = start + std::chrono::milliseconds(milliseconds);
    std::string windows;
    long before = 0;
    for (auto next = start + window; next <= end; next += window) {
        std::this_thread::sleep_until(next);
        const long now = answeredSoFar();
        windows += (windows.empty() ? "" : ", ") + std::to_string((now - before) * 1000 / window.count());
        before = now;
    }
    std::this_thread::sleep_until(end);
    stop = true;
    const std::chrono::duration<double> took = Clock::now() - start;
    for (auto& client : clients) client.join();
    std::printf("{\"requests_per_second\": %.0f, \"connections\": %d, \"in_flight\": %d, \"windows\": [%s]}\n",
                static_cast<double>(answeredSoFar()) / took.count(), connections, inFlight, windows.c_str());
    return 0;
}

int connectionsOneByOne(const std::string& socketPath, long count) {
    const auto start = Clock::now();
    for (long i = 0; i < count; ++i) {
        UniqueFd fd = connectTo(socketPath);
        FrameStream::Reader reader(fd.get());
        if (!FrameStream::writeAll(fd.get(), versionFrame(1))) fail("write");
        expectVersion(reader);
    }
    const std::chrono::duration<double> took = Clock::now() - start;
    std::printf("{\"connections\": %ld, \"seconds\": %.3f}\n", count, took.count());
    return 0;
}

// One removeItemsAtPaths: request of COUNT paths in a folder that exists, none
// of which does: every path comes back with its reason. Seconds from the first
// byte sent to the whole reply read and decoded. The names are short (the index
// in hexadecimal): the reply repeats each path and names it again in its
// reason, and for 200,000 paths it comes to about 15.6 MB of the 16 MiB a frame
// may hold.
int removeList(const std::string& socketPath, long count) {
    std::vector<std::string> paths;
    paths.reserve(static_cast<std::size_t>(count));
    char path[64];
    for (long i = 0; i < count; ++i) {
        std::snprintf(path, sizeof path, "/Library/Caches/%lx", i);
        paths.emplace_back(path);
    }
    Wire::Request request;
    request.id = 1;
    request.selector = Wire::Selector::removeItems;
    request.arguments = {std::move(paths), false};
    const std::string frame = Wire::encodeRequest(request);

    UniqueFd fd = connectTo(socketPath);
    FrameStream::Reader reader(fd.get());
    std::string body;
    const auto start = Clock::now();
    if (!FrameStream::writeAll(fd.get(), frame)) fail("write");
    if (reader.next(body) != FrameStream::ReadStatus::frame) fail("the helper closed the connection");
    const auto reply = Wire::decodeReply(body);
    const std::chrono::duration<double> took = Clock::now() - start;
    const auto* refused = reply ? std::get_if<Wire::TextDictionary>(&reply->value) : nullptr;
    if (!refused || refused->size() != static_cast<std::size_t>(count)) {
        errno = EPROTO;
        fail("the reply does not refuse every path");
    }
    std::printf("{\"paths\": %ld, \"seconds\": %.4f}\n", count, took.count());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string socketPath = Wire::socketPath(HelperConstants::machServiceName);
    if (argc > 2 && std::string(argv[1]) == "--socket") {
        socketPath = argv[2];
        argc -= 2;
        argv += 2;
    }
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "latency" && argc == 3) return latency(socketPath, std::atol(argv[2]));
    if (mode == "throughput" && (argc == 4 || argc == 5)) {
        return throughput(socketPath, std::atoi(argv[2]), std::atol(argv[3]), argc == 5 ? std::atoi(argv[4]) : 1);
    }
    if (mode == "connections" && argc == 3) return connectionsOneByOne(socketPath, std::atol(argv[2]));
    if (mode == "remove-list" && argc == 3) return removeList(socketPath, std::atol(argv[2]));
    std::fprintf(stderr,
                 "usage: HelperClientBench [--socket PATH] latency COUNT | throughput CONNECTIONS MILLISECONDS "
                 "[IN_FLIGHT] | connections COUNT | remove-list COUNT\n");
    return 64;
}

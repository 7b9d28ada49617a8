// The motion sensor shared by every connection: counted in and out by each
// connection's requests and its end, switched through a registry of made-up
// services.
#include "helper/MotionRequest.h"
#include "helper/MotionSensor.h"

#include <gtest/gtest.h>

#include <random>
#include <thread>

using namespace Helper;

namespace {

// Services walked in order, each with or without the accelerometer flag. It
// records each value set ("1=10000" for service 1) and each release ("r1"),
// space-separated; it takes no lock: the sensor must serialise its calls.
struct Registry final : SensorRegistry {
    std::vector<bool> flags = {true, false, true};
    std::string calls;
    Object walked = 0;

    std::optional<Object> matchingServices(std::string_view) override {
        walked = 0;
        return 9;
    }
    Object nextService(Object) override { return walked < flags.size() ? ++walked : none; }
    bool booleanProperty(Object service, std::string_view) override { return flags.at(service - 1); }
    void setIntegerProperty(Object service, std::string_view, std::int64_t value) override {
        calls += std::to_string(service) + "=" + std::to_string(value) + " ";
    }
    void release(Object object) override { calls += "r" + std::to_string(object) + " "; }
};

// Switching the three services on and off: the second, without the flag, is only released.
const std::string on = "1=1 1=1 1=10000 r1 r2 3=1 3=1 3=10000 r3 r9 ", off = "1=0 1=0 1=0 r1 r2 3=0 3=0 3=0 r3 r9 ";

struct MotionSensorTest : testing::Test {
    Registry registry;
    MotionSensor sensor{registry};
    // The request's one answer, or "none" when it gave none.
    std::string request(HelperService& connection, bool enabled) {
        std::string answer = "none";
        setMotionSensor(enabled, connection, [&](bool a) { answer = a ? "true" : "false"; }, sensor);
        return answer;
    }
};

// Steps on two connections: the connection, its request ('1' on, '0' off, 'x'
// its end), the answer, the count after the step, and what the step switched.
TEST_F(MotionSensorTest, ConnectionsAreCountedOnceAndTheLastOneSwitchesOff) {
    HelperService connections[] = {HelperService(501), HelperService(502)};
    const std::tuple<int, char, const char*, int, std::string> steps[] = {
        {0, '0', "true", 0, ""},  // off without having asked for on
        {0, 'x', "none", 0, ""},  // ends without having asked
        {0, '1', "true", 1, on},
        {0, '1', "true", 1, ""},  // on twice
        {1, '1', "true", 2, on},
        {0, '0', "true", 1, on},  // 2 -> 1: switched on again
        {0, 'x', "none", 1, ""},
        {1, 'x', "none", 0, off},
        {1, 'x', "none", 0, ""},  // the connection's second end handler
    };
    for (const auto& [index, change, answer, users, switched] : steps) {
        SCOPED_TRACE(std::string(1, change) + " by " + std::to_string(index) + " to " + std::to_string(users));
        registry.calls.clear();
        if (change == 'x') withdrawMotionUser(connections[index], sensor);
        EXPECT_EQ(change == 'x' ? "none" : request(connections[index], change == '1'), answer);
        EXPECT_EQ(sensor.userCount(), users);
        EXPECT_EQ(registry.calls, switched);
    }
}

// Connections on several threads switch on and off and end at the same time.
// Each connection is touched only by its own thread, as on its serial queue.
TEST_F(MotionSensorTest, ConcurrentConnectionsEndWithTheSensorOff) {
    std::vector<std::thread> workers;
    for (unsigned t = 0; t < 4; ++t) {
        workers.emplace_back([&, t] {
            std::mt19937 random(t);
            for (int c = 0; c < 25; ++c) {
                HelperService connection(500 + t);
                for (auto r = random() % 6; r > 0; --r) setMotionSensor(random() % 2, connection, [](bool) {}, sensor);
                withdrawMotionUser(connection, sensor);
            }
        });
    }
    for (auto& worker : workers) worker.join();
    EXPECT_EQ(sensor.userCount(), 0);
    EXPECT_TRUE(registry.calls.ends_with(off));
}

}  // namespace

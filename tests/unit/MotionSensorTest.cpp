#include "support/FakeSensorRegistry.h"
#include "helper/MotionRequest.h"
#include "helper/MotionSensor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>

using namespace Helper;

namespace {

using Calls = std::vector<std::string>;

// The writes and the release of one switched service.
Calls switched(int service, bool on) {
    std::string s = std::to_string(service);
    return {"set " + s + " SensorPropertyReportingState " + (on ? "1" : "0"),
            "set " + s + " SensorPropertyPowerState " + (on ? "1" : "0"),
            "set " + s + " ReportInterval " + (on ? "10000" : "0"), "release " + s};
}

Calls concat(std::initializer_list<Calls> parts) {
    Calls all;
    for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

const Calls endOfWalk = {"release iterator"};

struct MotionSensorTest : testing::Test {
    FakeSensorRegistry registry;
    MotionSensor sensor{registry};

    bool request(HelperService& service, bool enabled) {
        int replies = 0;
        bool answer = false;
        setMotionSensor(enabled, service, [&](bool value) { ++replies, answer = value; }, sensor);
        EXPECT_EQ(replies, 1);
        return answer;
    }
};

TEST_F(MotionSensorTest, TwoConnectionsKeepTheSensorOnUntilTheLastLetsGo) {
    registry.addAccelerometer(true);
    HelperService first(501), second(502);

    EXPECT_TRUE(request(first, true));
    EXPECT_TRUE(request(second, true));
    EXPECT_TRUE(request(first, false));  // 2 -> 1: switched on again
    EXPECT_EQ(sensor.userCount(), 1);
    Calls on = concat({switched(1, true), endOfWalk});
    EXPECT_EQ(registry.calls, concat({on, on, on}));

    registry.calls.clear();
    withdrawMotionUser(second, sensor);
    EXPECT_FALSE(second.motionOn);
    EXPECT_EQ(registry.calls, concat({switched(1, false), endOfWalk}));
    EXPECT_EQ(sensor.userCount(), 0);
    EXPECT_EQ(registry.requestedClasses, Calls(4, "AppleSPUHIDDriver"));
}

TEST_F(MotionSensorTest, RequestsThatChangeNothingTouchNothingAndAnEndWithdrawsOnce) {
    registry.addAccelerometer(true);
    HelperService service(501);
    EXPECT_TRUE(request(service, false));  // off without having asked for on
    withdrawMotionUser(service, sensor);   // ends without having asked
    EXPECT_TRUE(registry.calls.empty());
    EXPECT_TRUE(request(service, true));
    registry.calls.clear();
    EXPECT_TRUE(request(service, true));  // on twice
    EXPECT_TRUE(registry.calls.empty());
    withdrawMotionUser(service, sensor);  // invalidation
    withdrawMotionUser(service, sensor);  // interruption of the same connection
    EXPECT_EQ(registry.calls, concat({switched(1, false), endOfWalk}));
    EXPECT_EQ(sensor.userCount(), 0);
}

TEST_F(MotionSensorTest, EverySensorServiceIsSwitchedAndOthersOnlyReleased) {
    registry.addAccelerometer(true);                                                  // 1
    registry.addAccelerometer(false);                                                 // 2
    registry.add({});                                                                 // 3: no flag
    registry.addAccelerometer(true);                                                  // 4
    registry.add({.className = "OtherDriver", .booleans = {{"dispatchAccel", true}}});  // 5: not matched
    registry.add({.booleans = {{"somethingElse", true}}});                            // 6

    HelperService service(501);
    EXPECT_TRUE(request(service, true));
    EXPECT_EQ(registry.calls, concat({switched(1, true), {"release 2", "release 3"}, switched(4, true),
                                      {"release 6"}, endOfWalk}));
    EXPECT_EQ(registry.outstanding(), 0);
}

TEST_F(MotionSensorTest, WithoutASensorOrAMatchTheRequestFailsYetIsCounted) {
    registry.addAccelerometer(false);
    HelperService service(501);
    EXPECT_FALSE(request(service, true));
    EXPECT_TRUE(service.motionOn);
    EXPECT_EQ(sensor.userCount(), 1);
    registry.matchingFails = true;
    EXPECT_FALSE(request(service, false));
    EXPECT_FALSE(service.motionOn);
    EXPECT_EQ(sensor.userCount(), 0);
    EXPECT_EQ(registry.calls, Calls({"release 1", "release iterator"}));
    sensor.adjustUsers(-1);
    EXPECT_EQ(sensor.userCount(), 0) << "the count never goes below zero";
}

// Connections on many threads switch on and off and end at the same time.
// Each connection is touched only by its own thread, as on its serial queue.
TEST_F(MotionSensorTest, ConcurrentConnectionsEndWithTheSensorOff) {
    registry.addAccelerometer(true);
    registry.addAccelerometer(true);
    constexpr int threads = 8;
    constexpr int connectionsPerThread = 50;

    std::atomic<bool> running = true;
    std::atomic<bool> wentNegative = false;
    std::thread watcher([&] {
        while (running)
            if (sensor.userCount() < 0) wentNegative = true;
    });

    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            std::mt19937 random(static_cast<unsigned>(t));
            for (int c = 0; c < connectionsPerThread; ++c) {
                HelperService service(static_cast<uint32_t>(500 + t));
                int requests = static_cast<int>(random() % 6);
                for (int r = 0; r < requests; ++r)
                    setMotionSensor(random() % 2 == 0, service, [](bool) {}, sensor);
                withdrawMotionUser(service, sensor);
                withdrawMotionUser(service, sensor);
            }
        });
    }
    for (auto& worker : workers) worker.join();
    running = false;
    watcher.join();

    EXPECT_FALSE(wentNegative);
    EXPECT_EQ(sensor.userCount(), 0);
    EXPECT_EQ(registry.outstanding(), 0);
    ASSERT_GE(registry.calls.size(), 9u);
    Calls tail(registry.calls.end() - 9, registry.calls.end());
    EXPECT_EQ(tail, concat({switched(1, false), switched(2, false), endOfWalk}));
}

}  // namespace

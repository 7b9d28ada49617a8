// The motion sensor shared by every connection: counted in and out by each
// connection's requests and its end, switched through a registry of made-up
// services.
#include "helper/MotionRequest.h"
#include "helper/MotionSensor.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

using namespace Helper;

namespace {

// Services walked in order, each with or without the accelerometer flag. It
// records each value set ("1=10000" for service 1) and each release ("r1"),
// space-separated; it takes no lock: the sensor must serialise its calls.
struct Registry final : SensorRegistry {
    std::vector<bool> flags = {true, false, true};
    std::string calls;
    Object walked = 0;

    std::optional<Object> matchingServices(std::string_view) override { return walked = 0, 9; }
    Object nextService(Object) override { return walked < flags.size() ? ++walked : none; }
    bool booleanProperty(Object service, std::string_view) override { return flags.at(service - 1); }
    void setIntegerProperty(Object service, std::string_view, std::int64_t value) override {
        calls += std::to_string(service) + "=" + std::to_string(value) + " ";
    }
    void release(Object object) override { calls += "r" + std::to_string(object) + " "; }
};

// Switching the three services on and off: the second, without the flag, is only released.
const std::string on = "1=1 1=1 1=10000 r1 r2 3=1 3=1 3=10000 r3 r9 ", off = "1=0 1=0 1=0 r1 r2 3=0 3=0 3=0 r3 r9 ";

// Steps on two connections: the connection, its request ('1' on, '0' off, 'x'
// its end), the count after the step, and what the step switched. Each request
// answers true: it found a sensor to switch, or nothing to change.
TEST(MotionSensor, ConnectionsAreCountedOnceAndTheLastOneSwitchesOff) {
    Registry registry;
    MotionSensor sensor{registry};
    HelperService connections[] = {HelperService(501), HelperService(502)};
    // clang-format off
    const std::tuple<int, char, int, std::string> steps[] = {
        // Off and an end without having asked for on; on twice; 2 -> 1 switches on again; a second end handler.
        {0, '0', 0, ""}, {0, 'x', 0, ""}, {0, '1', 1, on}, {0, '1', 1, ""}, {1, '1', 2, on}, {0, '0', 1, on},
        {0, 'x', 1, ""}, {1, 'x', 0, off}, {1, 'x', 0, ""},
    };
    // clang-format on
    for (const auto& [index, change, users, switched] : steps) {
        SCOPED_TRACE(std::string(1, change) + " by " + std::to_string(index) + " to " + std::to_string(users));
        registry.calls.clear();
        std::vector<bool> answers;
        if (change == 'x')
            withdrawMotionUser(connections[index], sensor);
        else
            setMotionSensor(
                change == '1', connections[index], [&](bool a) { answers.push_back(a); }, sensor);
        EXPECT_EQ(answers, std::vector<bool>(change == 'x' ? 0 : 1, true));
        EXPECT_EQ(sensor.userCount(), users);
        EXPECT_EQ(registry.calls, switched);
    }
}

}  // namespace

#pragma once

#include "platform/os/SensorRegistry.h"

#include <cstdint>
#include <mutex>

namespace Helper {

// The machine's motion sensor, shared by every connection: on while at least
// one connection wants it, off when the last one lets go.
class MotionSensor {
public:
    explicit MotionSensor(SensorRegistry& registry) : registry_(registry) {}
    MotionSensor(const MotionSensor&) = delete;
    MotionSensor& operator=(const MotionSensor&) = delete;

    // The helper's one sensor, over the system registry; made on first use and
    // kept until the process ends.
    static MotionSensor& shared();

    // Counts one connection in (+1) or out (-1), never below zero, and applies
    // the resulting state (on while any connection is counted), also when the
    // count moves between two positive values. Answers whether any sensor
    // service was switched. Changes and switchings happen one at a time.
    bool adjustUsers(int64_t change);

    // The number of connections counted now.
    int64_t userCount();

private:
    // Switches every service of the sensor's class whose "dispatchAccel" is
    // true; answers whether there was one. Called with `lock` held.
    bool applySensorState(bool on);

    SensorRegistry& registry_;
    std::mutex lock;    // guards `users` and every switching
    int64_t users = 0;  // connections whose motionOn is true
};

}  // namespace Helper

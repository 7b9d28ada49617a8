#include "helper/MotionSensor.h"

#include <algorithm>

namespace Helper {

namespace {

constexpr std::string_view serviceClass = "AppleSPUHIDDriver";
constexpr std::string_view accelerometerFlag = "dispatchAccel";

struct Setting {
    std::string_view property;
    int64_t whenOn;
};

// Written in this order; each is 0 when off.
constexpr Setting settings[] = {
    {"SensorPropertyReportingState", 1},
    {"SensorPropertyPowerState", 1},
    {"ReportInterval", 10000},
};

}  // namespace

MotionSensor& MotionSensor::shared() {
    // Never destroyed: requests may still be running when the process exits.
    static MotionSensor* sensor = new MotionSensor(systemSensorRegistry());
    return *sensor;
}

bool MotionSensor::adjustUsers(int64_t change) {
    std::lock_guard guard(lock);
    int64_t newCount = users + change;
    users = std::max<int64_t>(newCount, 0);
    return applySensorState(newCount > 0);
}

int64_t MotionSensor::userCount() {
    std::lock_guard guard(lock);
    return users;
}

bool MotionSensor::applySensorState(bool on) {
    auto iterator = registry_.matchingServices(serviceClass);
    if (!iterator) return false;
    bool switched = false;
    while (SensorRegistry::Object service = registry_.nextService(*iterator)) {
        if (registry_.booleanProperty(service, accelerometerFlag)) {
            for (const auto& setting : settings)
                registry_.setIntegerProperty(service, setting.property, on ? setting.whenOn : 0);
            switched = true;
        }
        registry_.release(service);
    }
    registry_.release(*iterator);
    return switched;
}

}  // namespace Helper

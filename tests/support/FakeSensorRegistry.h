#pragma once

#include "platform/os/SensorRegistry.h"

#include <map>
#include <string>
#include <vector>

// A registry of made-up services for tests. It records every property set and
// every release, in order, as lines such as "set 2 ReportInterval 10000" and
// "release 2" (the iterator is released as "release iterator"). It takes no
// lock of its own: callers that share it must serialise their calls, and the
// thread sanitizer reports them when they do not.
class FakeSensorRegistry final : public SensorRegistry {
public:
    struct Service {
        std::string className = "AppleSPUHIDDriver";
        std::map<std::string, bool> booleans;  // e.g. {"dispatchAccel", true}
    };

    // Adds a service; services are walked in the order added. Answers its object.
    Object add(Service service);
    Object addAccelerometer(bool dispatchAccel);  // of the sensor's class, with the flag

    bool matchingFails = false;
    std::vector<std::string> calls;
    std::vector<std::string> requestedClasses;

    std::optional<Object> matchingServices(std::string_view className) override;
    Object nextService(Object iterator) override;
    bool booleanProperty(Object service, std::string_view name) override;
    void setIntegerProperty(Object service, std::string_view name, std::int64_t value) override;
    void release(Object object) override;

    // Objects handed out and not released yet.
    int outstanding() const { return outstanding_; }

private:
    static constexpr Object iteratorObject = 1000;
    std::vector<std::pair<Object, Service>> services_;
    std::vector<Object> pending_;  // the current iteration, next first
    int outstanding_ = 0;
};

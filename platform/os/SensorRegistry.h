#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

// The few calls of the system's device registry that switching the motion
// sensor needs: services matched by class name and walked through an
// iterator, a boolean property read, integer properties set, and every object
// handed out released once.
class SensorRegistry {
public:
    // A registry object (service or iterator); `none` is no object.
    using Object = std::uint32_t;
    static constexpr Object none = 0;

    virtual ~SensorRegistry() = default;

    // An iterator over every service of the class, or nothing when the
    // registry cannot be asked.
    virtual std::optional<Object> matchingServices(std::string_view className) = 0;

    // The iterator's next service, or `none` when it is exhausted.
    virtual Object nextService(Object iterator) = 0;

    // True only when the property is present, a boolean, and true.
    virtual bool booleanProperty(Object service, std::string_view name) = 0;

    // Sets an integer property; whether it took is not reported.
    virtual void setIntegerProperty(Object service, std::string_view name, std::int64_t value) = 0;

    virtual void release(Object object) = 0;
};

// The registry of the machine the helper runs on. This platform has no motion
// sensor service, so it matches nothing. Lives until the process ends.
SensorRegistry& systemSensorRegistry();

#include "support/FakeSensorRegistry.h"

#include <algorithm>

SensorRegistry::Object FakeSensorRegistry::add(Service service) {
    Object object = static_cast<Object>(services_.size() + 1);
    services_.emplace_back(object, std::move(service));
    return object;
}

SensorRegistry::Object FakeSensorRegistry::addAccelerometer(bool dispatchAccel) {
    return add(Service{.booleans = {{"dispatchAccel", dispatchAccel}}});
}

std::optional<SensorRegistry::Object> FakeSensorRegistry::matchingServices(std::string_view className) {
    requestedClasses.emplace_back(className);
    if (matchingFails) return std::nullopt;
    pending_.clear();
    for (const auto& [object, service] : services_)
        if (service.className == className) pending_.push_back(object);
    std::reverse(pending_.begin(), pending_.end());
    ++outstanding_;
    return iteratorObject;
}

SensorRegistry::Object FakeSensorRegistry::nextService(Object iterator) {
    if (iterator != iteratorObject || pending_.empty()) return none;
    Object next = pending_.back();
    pending_.pop_back();
    ++outstanding_;
    return next;
}

bool FakeSensorRegistry::booleanProperty(Object service, std::string_view name) {
    for (const auto& [object, entry] : services_) {
        if (object != service) continue;
        auto found = entry.booleans.find(std::string(name));
        return found != entry.booleans.end() && found->second;
    }
    return false;
}

void FakeSensorRegistry::setIntegerProperty(Object service, std::string_view name, std::int64_t value) {
    calls.push_back("set " + std::to_string(service) + " " + std::string(name) + " " + std::to_string(value));
}

void FakeSensorRegistry::release(Object object) {
    --outstanding_;
    calls.push_back(object == iteratorObject ? "release iterator" : "release " + std::to_string(object));
}

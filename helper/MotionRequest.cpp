#include "helper/MotionRequest.h"

#include "helper/MotionSensor.h"

namespace Helper {

void setMotionSensor(bool enabled, HelperService& service, BoolReply reply, MotionSensor& sensor) {
    if (enabled == service.motionOn) {
        reply(true);
        return;
    }
    // The connection's wish is recorded before the sensor is touched and kept
    // whatever the outcome, so the opposite request later is counted normally.
    service.motionOn = enabled;
    reply(sensor.adjustUsers(enabled ? 1 : -1));
}

void withdrawMotionUser(HelperService& service, MotionSensor& sensor) {
    if (!service.motionOn) return;
    // Cleared first: both end handlers of one connection withdraw at most once.
    service.motionOn = false;
    sensor.adjustUsers(-1);
}

void setMotionSensor(bool enabled, HelperService& service, BoolReply reply) {
    setMotionSensor(enabled, service, std::move(reply), MotionSensor::shared());
}

void withdrawMotionUser(HelperService& service) { withdrawMotionUser(service, MotionSensor::shared()); }

}  // namespace Helper

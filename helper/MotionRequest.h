#pragma once

#include "helper/HelperService.h"
#include "helper/Replies.h"

namespace Helper {

class MotionSensor;

// The motion-sensor request of one connection: counts the connection in or out
// of the shared sensor's users and replies whether the sensor could be switched.
void setMotionSensor(bool enabled, HelperService& service, BoolReply reply);

// The connection-end share: withdraws the connection's user, if it holds one.
void withdrawMotionUser(HelperService& service);

// The same two, against a given sensor instead of the shared one.
void setMotionSensor(bool enabled, HelperService& service, BoolReply reply, MotionSensor& sensor);
void withdrawMotionUser(HelperService& service, MotionSensor& sensor);

}  // namespace Helper

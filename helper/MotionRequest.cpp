#include "helper/MotionRequest.h"

// Placeholder until the motion sensor is built: nothing can be switched.
void setMotionSensor(bool, HelperService&, BoolReply reply) { reply(false); }

void withdrawMotionUser(HelperService& service) { service.motionOn = false; }

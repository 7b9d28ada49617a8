#pragma once

#include <string>

// The system's message for an errno value, as the platform words it. Safe on
// any thread.
std::string systemMessage(int code);

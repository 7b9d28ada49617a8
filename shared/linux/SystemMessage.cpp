#include "shared/SystemMessage.h"

#include <cstring>

std::string systemMessage(int code) {
    char buffer[256];
    // The GNU strerror_r answers a pointer to the message (possibly a static
    // one rather than the buffer), and is safe on any thread.
    return ::strerror_r(code, buffer, sizeof buffer);
}

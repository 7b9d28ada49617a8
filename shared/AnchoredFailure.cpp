#include "shared/AnchoredFiles.h"
#include "shared/UnicodeText.h"

#include <cstring>

namespace AnchoredFiles {

std::string Failure::description() const {
    char buffer[256];
    // The GNU strerror_r answers a pointer to the message (possibly a static
    // one rather than the buffer), and is safe on any thread.
    const char* message = ::strerror_r(code, buffer, sizeof buffer);
    return operation + ": " + message;
}

Failure entryFailure(std::string_view verb, std::string_view name, int32_t code) {
    std::string_view bytes = name.substr(0, name.find('\0'));
    std::string operation(verb);
    operation += ' ';
    operation += UnicodeText::repairedUTF8(bytes);
    return Failure{std::move(operation), code};
}

}  // namespace AnchoredFiles

#include "shared/AnchoredFiles.h"
#include "shared/SystemMessage.h"
#include "shared/UnicodeText.h"

namespace AnchoredFiles {

std::string Failure::description() const { return operation + ": " + systemMessage(code); }

Failure entryFailure(std::string_view verb, std::string_view name, int32_t code) {
    std::string operation(verb);
    operation += ' ';
    operation += UnicodeText::repairedUTF8(systemName(name));
    return Failure{std::move(operation), code};
}

}  // namespace AnchoredFiles

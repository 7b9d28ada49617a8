#include "shared/TCCResetPolicy.h"

#include "shared/HelperConstants.h"
#include "shared/UnicodeText.h"

#include <algorithm>

namespace TCCResetPolicy {

namespace {

constexpr size_t maximumIdentifierBytes = 255;

bool isASCIILetterOrDigit(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); }

bool isValidPiece(std::string_view piece) {
    if (piece.empty() || !isASCIILetterOrDigit(piece.front())) return false;
    return std::all_of(piece.begin(), piece.end(),
                       [](char c) { return isASCIILetterOrDigit(c) || c == '-' || c == '_'; });
}

bool isListedService(std::string_view service) {
    return std::find(services.begin(), services.end(), service) != services.end();
}

}  // namespace

const std::set<std::string, std::less<>>& protectedClients() {
    static const std::set<std::string, std::less<>> clients = {
        UnicodeText::lowercased(HelperConstants::appBundleID),
        UnicodeText::lowercased(HelperConstants::machServiceName),
    };
    return clients;
}

bool isReverseDNS(std::string_view identifier) {
    if (identifier.empty() || identifier.size() > maximumIdentifierBytes) return false;
    // Pieces are judged as they are cut; a text without any dot is one piece.
    if (identifier.find('.') == std::string_view::npos) return false;
    size_t start = 0;
    while (true) {
        size_t dot = identifier.find('.', start);
        std::string_view piece = identifier.substr(start, dot == std::string_view::npos ? dot : dot - start);
        if (!isValidPiece(piece)) return false;
        if (dot == std::string_view::npos) return true;
        start = dot + 1;
    }
}

bool isAppleClient(std::string_view identifier) {
    std::string lowered = UnicodeText::lowercased(identifier);
    return lowered == "com.apple" || lowered.starts_with("com.apple.");
}

std::optional<Rejection> validate(std::string_view service, std::string_view bundleID) {
    if (!isListedService(service)) return Rejection::unknownService;
    if (!isReverseDNS(bundleID)) return Rejection::invalidBundleID;
    if (isAppleClient(bundleID)) return Rejection::appleClient;
    if (protectedClients().contains(UnicodeText::lowercased(bundleID))) return Rejection::protectedClient;
    return std::nullopt;
}

std::optional<std::vector<std::string>> arguments(std::string_view service, std::string_view bundleID) {
    if (validate(service, bundleID)) return std::nullopt;
    return std::vector<std::string>{"reset", std::string(service), std::string(bundleID)};
}

}  // namespace TCCResetPolicy

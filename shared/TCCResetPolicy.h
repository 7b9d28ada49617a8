#pragma once

#include <array>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

// Which privacy permissions the helper may reset, and for which applications:
// only listed services, only well-formed bundle identifiers, never Apple's own
// applications and never this application's own identifiers.
namespace TCCResetPolicy {

// The system tool that resets a permission.
inline constexpr std::string_view toolPath = "/usr/bin/tccutil";

// The service names that may be reset, matched whole and case-sensitively.
inline constexpr std::array<std::string_view, 33> services = {
    "Accessibility",
    "AddressBook",
    "AppleEvents",
    "AudioCapture",
    "BluetoothAlways",
    "Calendar",
    "Camera",
    "DeveloperTool",
    "EndpointSecurityClient",
    "FileProviderDomain",
    "FocusStatus",
    "ListenEvent",
    "MediaLibrary",
    "Microphone",
    "Photos",
    "PhotosAdd",
    "PostEvent",
    "Reminders",
    "RemoteDesktop",
    "ScreenCapture",
    "SpeechRecognition",
    "SystemPolicyAllFiles",
    "SystemPolicyAppBundles",
    "SystemPolicyAppData",
    "SystemPolicyDesktopFolder",
    "SystemPolicyDocumentsFolder",
    "SystemPolicyDownloadsFolder",
    "SystemPolicyNetworkVolumes",
    "SystemPolicyRemovableVolumes",
    "SystemPolicySysAdminFiles",
    "UserTracking",
    "WebBrowserPublicKeyCredential",
    "Willow",
};

// The application's and the helper's bundle identifiers, lower-cased.
const std::set<std::string, std::less<>>& protectedClients();

// The first check a pair fails, in checking order.
enum class Rejection {
    unknownService,
    invalidBundleID,
    appleClient,
    protectedClient,
};

// A non-empty identifier of at most 255 UTF-8 bytes, made of at least two
// dot-separated pieces; each piece non-empty, beginning with an ASCII letter
// or digit, and holding only ASCII letters, digits, "-" and "_".
bool isReverseDNS(std::string_view identifier);

// Whether the lower-cased identifier is "com.apple" or begins with "com.apple.".
bool isAppleClient(std::string_view identifier);

// Why the pair may not be reset, or nothing when it may.
std::optional<Rejection> validate(std::string_view service, std::string_view bundleID);

// The tool's arguments ("reset", service, identifier, both as received), or
// nothing when `validate` refuses the pair.
std::optional<std::vector<std::string>> arguments(std::string_view service, std::string_view bundleID);

}  // namespace TCCResetPolicy

#include "shared/HelperProtocol.h"

namespace HelperProtocol {

namespace {

constexpr std::array<SelectorInfo, 7> selectorTable{{
    {Selector::removeItems, "removeItemsAtPaths:toTrash:reply:", 2},
    {Selector::removeChosenItems, "removeChosenItemsAtPaths:toTrash:reply:", 2},
    {Selector::unloadLaunchDaemon, "unloadLaunchDaemonWithLabel:plistPath:toTrash:reply:", 3},
    {Selector::version, "versionWithReply:", 0},
    {Selector::setMotionSensor, "setMotionSensorWithEnabled:reply:", 1},
    {Selector::resetPrivacyPermission, "resetPrivacyPermissionWithService:bundleID:reply:", 2},
    {Selector::setLaunchJob, "setLaunchJobWithLabel:plistPath:enabled:reply:", 3},
}};

template <typename Value>
Value argumentOr(const Arguments& arguments, std::size_t index, Value absent) {
    if (index >= arguments.size()) return absent;
    if (const auto* value = std::get_if<Value>(&arguments[index])) return *value;
    return absent;
}

}  // namespace

const std::array<SelectorInfo, 7>& selectors() { return selectorTable; }

const SelectorInfo& info(Selector selector) { return selectorTable[static_cast<std::size_t>(selector)]; }

std::optional<Selector> selectorNamed(std::string_view name) {
    for (const auto& entry : selectorTable)
        if (entry.name == name) return entry.selector;
    return std::nullopt;
}

std::string textArgument(const Arguments& arguments, std::size_t index) {
    return argumentOr<std::string>(arguments, index, {});
}

std::vector<std::string> textListArgument(const Arguments& arguments, std::size_t index) {
    return argumentOr<std::vector<std::string>>(arguments, index, {});
}

bool flagArgument(const Arguments& arguments, std::size_t index) { return argumentOr(arguments, index, false); }

}  // namespace HelperProtocol

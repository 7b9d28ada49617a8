#include "helper/HelperService.h"

#include "helper/LaunchJobRequests.h"
#include "helper/MotionRequest.h"
#include "helper/PrivacyReset.h"
#include "helper/RemovalRequests.h"
#include "shared/HelperConstants.h"

namespace Helper {

void HelperService::removeItemsAtPaths(std::vector<std::string> paths, bool toTrash, DictionaryReply reply) {
    removeItems(paths, toTrash, *this, std::move(reply));
}

void HelperService::removeChosenItemsAtPaths(std::vector<std::string> paths, bool toTrash, DictionaryReply reply) {
    removeChosenItems(paths, toTrash, *this, std::move(reply));
}

void HelperService::unloadLaunchDaemonWithLabel(std::string label, std::string plistPath, bool toTrash,
                                                TextReply reply) {
    unloadLaunchDaemon(std::move(label), std::move(plistPath), toTrash, *this, std::move(reply));
}

void HelperService::versionWithReply(VersionReply reply) { reply(std::string(HelperConstants::version)); }

void HelperService::setMotionSensorWithEnabled(bool enabled, BoolReply reply) {
    setMotionSensor(enabled, *this, std::move(reply));
}

void HelperService::resetPrivacyPermissionWithService(std::string service, std::string bundleID, TextReply reply) {
    resetPrivacyPermission(service, bundleID, std::move(reply));
}

void HelperService::setLaunchJobWithLabel(std::string label, std::string plistPath, bool enabled, TextReply reply) {
    setLaunchJob(std::move(label), std::move(plistPath), enabled, *this, std::move(reply));
}

}  // namespace Helper

#pragma once

#include "helper/Replies.h"
#include "platform/os/ConcurrentExecutor.h"

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace Helper {

// The object each admitted connection exports: the seven operations of the
// protocol, judged for the connection's effective user.
class HelperService {
public:
    explicit HelperService(uint32_t uid) : clientUID(uid) {}
    HelperService(const HelperService&) = delete;
    HelperService& operator=(const HelperService&) = delete;

    const uint32_t clientUID;
    // Whether this connection holds one of the motion sensor's users. Touched
    // only from the connection's own serial executor.
    bool motionOn = false;

    void removeItemsAtPaths(std::vector<std::string> paths, bool toTrash, DictionaryReply reply);
    void removeChosenItemsAtPaths(std::vector<std::string> paths, bool toTrash, DictionaryReply reply);
    void unloadLaunchDaemonWithLabel(std::string label, std::string plistPath, bool toTrash, TextReply reply);
    void versionWithReply(VersionReply reply);
    void setMotionSensorWithEnabled(bool enabled, BoolReply reply);
    void resetPrivacyPermissionWithService(std::string service, std::string bundleID, TextReply reply);
    void setLaunchJobWithLabel(std::string label, std::string plistPath, bool enabled, TextReply reply);

    // Runs this connection's launch-job change sequences, a few side by side,
    // so that they never wait behind another connection's. Its tasks do not
    // hold the service; destroying the service waits for them.
    static constexpr unsigned launchSequenceThreads = 4;
    ConcurrentExecutor launchSequences{launchSequenceThreads};
};

}  // namespace Helper

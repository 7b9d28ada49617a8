#include "shared/PrivilegedLaunchFolder.h"

std::string PrivilegedLaunchFolder::domain(PrivilegedLaunchFolder folder, uint32_t clientUID) {
    switch (folder.value) {
    case agents:
        return "gui/" + std::to_string(clientUID);
    case daemons:
        return "system";
    }
    return "system";
}

std::set<uint32_t> PrivilegedLaunchFolder::allowedOwners(PrivilegedLaunchFolder folder, uint32_t clientUID) {
    if (folder == agents) return {0, clientUID};
    return {0};
}

#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>

namespace Helper {

// Deleting an item or moving it into the client user's Trash: the one way
// every request that removes something does it.

// The client user's home folder from the user database, kept only when it
// begins with "/Users/".
std::optional<std::string> clientHomeDirectory(uid_t clientUID);

// Who receives an item moved to the Trash, looked up afresh for each item.
struct TrashOwner {
    uid_t user;
    gid_t group;             // primary group, 20 when the user has no entry
    std::string homeFolder;  // the home folder resolved with realpath, or unchanged
};
TrashOwner trashOwner(uid_t clientUID, const std::string& homeDirectory);

// Deletes the item that `path` names (its last component, taken from the
// resolved holding folder), or moves it into the Trash of the client whose
// home folder is `home`; the reply text when that failed, nothing when it
// worked.
std::optional<std::string> removeOrTrash(std::string_view path, const std::string& holdingFolder, bool toTrash,
                                         const std::optional<std::string>& home, uid_t clientUID);

}  // namespace Helper

#pragma once

#include "helper/HelperService.h"
#include "helper/Replies.h"

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

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

void removeItems(const std::vector<std::string>& paths, bool toTrash, const HelperService& service,
                 DictionaryReply reply);
void removeChosenItems(const std::vector<std::string>& paths, bool toTrash, const HelperService& service,
                       DictionaryReply reply);

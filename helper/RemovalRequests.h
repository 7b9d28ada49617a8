#pragma once

#include "helper/HelperService.h"
#include "helper/ItemRemoval.h"
#include "helper/Replies.h"

#include <string>
#include <vector>

namespace Helper {

// The two removal requests: each path judged, then deleted or moved into the
// client's Trash; the reply names every path that was not removed, with the reason.
void removeItems(const std::vector<std::string>& paths, bool toTrash, const HelperService& service,
                 DictionaryReply reply);
void removeChosenItems(const std::vector<std::string>& paths, bool toTrash, const HelperService& service,
                       DictionaryReply reply);

}  // namespace Helper

#pragma once

#include "helper/HelperService.h"
#include "platform/transport/Connection.h"

#include <memory>

namespace Helper {

// Decides, for each new connection on the listener's executor, whether to admit it.
class ListenerDelegate {
public:
    bool shouldAcceptNewConnection(const std::shared_ptr<Connection>& newConnection);
};

// Refuses the connection (and schedules the exit) when the helper's executable
// has been replaced or removed since start-up; otherwise binds it to the client
// requirement, exports a new HelperService for the peer's effective user,
// installs the end handlers and resumes it.
bool admitConnection(const std::shared_ptr<Connection>& connection);

// Ends the process with status 0, 0.2 seconds from the first call.
void scheduleExit();

// The end handler of an admitted connection: withdraws the connection's
// motion-sensor user, if it holds one.
void connectionEnded(HelperService& service);

}  // namespace Helper

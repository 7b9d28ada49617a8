#include "helper/ListenerDelegate.h"

#include "helper/MotionRequest.h"
#include "helper/OwnExecutable.h"
#include "helper/StartupIdentity.h"
#include "helper/linux/RequestDispatch.h"
#include "platform/os/MainLoop.h"
#include "shared/HelperConstants.h"

#include <chrono>

namespace Helper {

bool ListenerDelegate::shouldAcceptNewConnection(const std::shared_ptr<Connection>& newConnection) {
    return admitConnection(newConnection);
}

bool admitConnection(const std::shared_ptr<Connection>& connection) {
    const StartupIdentity& recorded = startupIdentity();
    if (!recorded.statFailed && !isSameExecutable(ownExecutablePath(), recorded)) {
        scheduleExit();
        return false;
    }
    connection->setCodeSigningRequirement(std::string(HelperConstants::clientRequirement));
    const uint32_t clientUID = connection->effectiveUserIdentifier();
    auto service = std::make_shared<HelperService>(clientUID);
    exportService(*connection, service);
    connection->setInvalidationHandler([service] { connectionEnded(*service); });
    connection->setInterruptionHandler([service] { connectionEnded(*service); });
    connection->resume();
    return true;
}

void scheduleExit() { MainLoop::scheduleExit(std::chrono::milliseconds(200)); }

void connectionEnded(HelperService& service) { withdrawMotionUser(service); }

}  // namespace Helper

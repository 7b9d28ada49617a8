#include "helper/Launchctl.h"
#include "helper/ListenerDelegate.h"
#include "helper/OwnExecutable.h"
#include "helper/StartupIdentity.h"
#include "platform/admission/ClientGroup.h"
#include "platform/os/Confinement.h"
#include "platform/os/HeapArenas.h"
#include "platform/os/MainLoop.h"
#include "platform/transport/Listener.h"
#include "platform/transport/WireProtocol.h"
#include "shared/HelperConstants.h"
#include "shared/TCCResetPolicy.h"

using namespace Helper;

// The helper daemon: no options, no configuration, no output. It serves its
// one socket until a connection finds its executable replaced.
int main(int argc, char** argv) {
    limitHeapArenas();
    setCommandLineFallback(argc > 0 ? argv[0] : nullptr);
    ownExecutablePath();
    startupIdentity();
    ClientGroup::id();

    // Both live as long as the process.
    auto* delegate = new ListenerDelegate;
    auto* listener = new Listener(Wire::socketPath(HelperConstants::machServiceName));
    listener->setDelegate([delegate](const std::shared_ptr<Connection>& connection) {
        return delegate->shouldAcceptNewConnection(connection);
    });
    if (!listener->resume()) return 1;
    Confinement::apply("/", {std::string(launchctlPath), std::string(TCCResetPolicy::toolPath)});
    MainLoop::run(*listener);
}

#include "helper/linux/RequestDispatch.h"

#include <functional>

namespace Helper {

namespace {

TextReply textReply(Connection::Responder respond) {
    return [respond = std::move(respond)](std::optional<std::string> text) {
        if (text)
            respond(std::move(*text));
        else
            respond(std::monostate{});
    };
}

}  // namespace

void dispatchRequest(const std::shared_ptr<HelperService>& service, Wire::Request request,
                     Connection::Responder respond) {
    using HelperProtocol::flagArgument;
    using HelperProtocol::Selector;
    using HelperProtocol::textArgument;
    using HelperProtocol::textListArgument;
    const HelperProtocol::Arguments& arguments = request.arguments;
    HelperService& target = *service;
    auto dictionaryReply = [&] {
        return DictionaryReply([respond](std::map<std::string, std::string> outcome) {
            respond(HelperProtocol::TextDictionary(std::move(outcome)));
        });
    };

    switch (request.selector) {
    case Selector::removeItems:
        target.removeItemsAtPaths(textListArgument(arguments, 0), flagArgument(arguments, 1), dictionaryReply());
        return;
    case Selector::removeChosenItems:
        target.removeChosenItemsAtPaths(textListArgument(arguments, 0), flagArgument(arguments, 1), dictionaryReply());
        return;
    case Selector::unloadLaunchDaemon:
        target.unloadLaunchDaemonWithLabel(textArgument(arguments, 0), textArgument(arguments, 1),
                                           flagArgument(arguments, 2), textReply(std::move(respond)));
        return;
    case Selector::version:
        // The version is answered before versionWithReply returns, so its
        // reply may refer to `respond` rather than hold a copy on the heap.
        target.versionWithReply(std::ref(respond));
        return;
    case Selector::setMotionSensor:
        target.setMotionSensorWithEnabled(flagArgument(arguments, 0),
                                          [respond = std::move(respond)](bool switched) { respond(switched); });
        return;
    case Selector::resetPrivacyPermission:
        target.resetPrivacyPermissionWithService(textArgument(arguments, 0), textArgument(arguments, 1),
                                                 textReply(std::move(respond)));
        return;
    case Selector::setLaunchJob:
        target.setLaunchJobWithLabel(textArgument(arguments, 0), textArgument(arguments, 1), flagArgument(arguments, 2),
                                     textReply(std::move(respond)));
        return;
    }
}

void exportService(Connection& connection, const std::shared_ptr<HelperService>& service) {
    connection.setExportedObject([service](Wire::Request request, Connection::Responder respond) {
        dispatchRequest(service, std::move(request), std::move(respond));
    });
}

}  // namespace Helper

#include "helper/linux/RequestDispatch.h"

namespace {

TextReply textReply(Connection::Responder respond) {
    return [respond = std::move(respond)](std::optional<std::string> text) {
        if (text) respond(std::move(*text));
        else respond(std::monostate{});
    };
}

}  // namespace

void dispatchRequest(const std::shared_ptr<HelperService>& service, Wire::Request request,
                     Connection::Responder respond) {
    using Wire::flagArgument;
    using Wire::textArgument;
    using Wire::textListArgument;
    HelperService& target = *service;
    auto dictionaryReply = [&] {
        return DictionaryReply([respond](std::map<std::string, std::string> outcome) {
            respond(Wire::TextDictionary(std::move(outcome)));
        });
    };

    switch (request.selector) {
    case Wire::Selector::removeItems:
        target.removeItemsAtPaths(textListArgument(request, 0), flagArgument(request, 1), dictionaryReply());
        return;
    case Wire::Selector::removeChosenItems:
        target.removeChosenItemsAtPaths(textListArgument(request, 0), flagArgument(request, 1), dictionaryReply());
        return;
    case Wire::Selector::unloadLaunchDaemon:
        target.unloadLaunchDaemonWithLabel(textArgument(request, 0), textArgument(request, 1),
                                           flagArgument(request, 2), textReply(std::move(respond)));
        return;
    case Wire::Selector::version:
        target.versionWithReply([respond = std::move(respond)](std::string version) { respond(std::move(version)); });
        return;
    case Wire::Selector::setMotionSensor:
        target.setMotionSensorWithEnabled(flagArgument(request, 0),
                                          [respond = std::move(respond)](bool switched) { respond(switched); });
        return;
    case Wire::Selector::resetPrivacyPermission:
        target.resetPrivacyPermissionWithService(textArgument(request, 0), textArgument(request, 1),
                                                 textReply(std::move(respond)));
        return;
    case Wire::Selector::setLaunchJob:
        target.setLaunchJobWithLabel(textArgument(request, 0), textArgument(request, 1), flagArgument(request, 2),
                                     textReply(std::move(respond)));
        return;
    }
}

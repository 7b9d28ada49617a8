#pragma once

#include "helper/HelperService.h"
#include "platform/transport/Connection.h"
#include "platform/transport/WireProtocol.h"

#include <memory>

namespace Helper {

// The exported object's side of the wire: calls the HelperService operation
// that the request's selector names, with its arguments converted to the
// declared types, and turns the operation's reply into the wire's reply.
// Replies do not hold the service: it ends with the connection's handlers, on
// the connection's thread, never on a thread of its own executor.
void dispatchRequest(const std::shared_ptr<HelperService>& service, Wire::Request request,
                     Connection::Responder respond);

// Exports the service on the connection: every request it reads is dispatched
// to the service.
void exportService(Connection& connection, const std::shared_ptr<HelperService>& service);

}  // namespace Helper

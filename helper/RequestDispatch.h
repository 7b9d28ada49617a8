#pragma once

#include "helper/HelperService.h"
#include "platform/Connection.h"
#include "platform/WireProtocol.h"

#include <memory>

// The exported object's side of the wire: calls the HelperService operation
// that the request's selector names, with its arguments converted to the
// declared types, and turns the operation's reply into the wire's reply. A
// reply that is still due keeps the service alive.
void dispatchRequest(const std::shared_ptr<HelperService>& service, Wire::Request request,
                     Connection::Responder respond);

#pragma once

#include "platform/admission/PerUserLimit.h"
#include "platform/os/ConcurrentExecutor.h"
#include "platform/os/ThreadGroup.h"
#include "platform/transport/Connection.h"
#include "shared/UniqueFd.h"

#include <functional>
#include <memory>
#include <string>

// The service's listening socket. The main loop accepts its connections; at
// most PerUserLimit::limit of one user are open at a time, and more are closed
// at once. Each is handed to the delegate on one of a fixed set of admission
// workers, which answers whether to admit it. An admitted connection has been
// resumed by the delegate (and judged there); a refused one is closed without
// any call. Connections' threads belong to the listener: when it goes, it
// waits for the queued admissions and for every connection to end.
class Listener {
public:
    using Delegate = std::function<bool(const std::shared_ptr<Connection>&)>;

    // A listening socket handed over by socket activation (LISTEN_FDS for this
    // process), or else a new Unix-domain stream socket bound at `path`: a stale
    // socket file there is replaced and the socket is open to every user (mode
    // 0666), admission being the delegate's affair.
    explicit Listener(std::string path);
    ~Listener();
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    void setDelegate(Delegate delegate);
    // Creates the socket and starts listening; false when that fails. Starts
    // no thread: admission's starts with the first connection, so that it and
    // every connection's thread are held by a confinement applied in between.
    bool resume();

    int fd() const { return socket_.get(); }

    // Accepts the connections that are waiting, up to a small batch, and
    // queues each for admission.
    void acceptWaiting();

private:
    std::string path_;
    Delegate delegate_;
    UniqueFd socket_;
    PerUserLimit limit_;
    ThreadGroup connectionThreads_;  // outlives the admission workers, which start its threads
    std::unique_ptr<ConcurrentExecutor> admission_;
};

#pragma once

#include "platform/admission/PerUserLimit.h"
#include "platform/os/ThreadGroup.h"
#include "platform/transport/WireProtocol.h"
#include "shared/UniqueFd.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

// One accepted client socket. Resuming it checks the peer against the code
// requirement on the calling thread; a peer that passes is served on a thread
// of its own (started in the given group), its serial executor, which reads
// requests in the order they arrive and hands each to the exported object
// together with a Responder. When the socket closes, or the connection is
// dropped (a malformed frame, a reply that could not be delivered in time),
// the invalidation handler runs once on that thread, after the requests it was
// serving have returned; for a peer that fails the requirement it runs at once
// on the resuming thread, and no request is read. A peer that has only half-closed its side still receives the replies
// due to it; one that has closed altogether ends the connection at once, even while replies from other threads are due
// (they are then not sent).
class Connection : public std::enable_shared_from_this<Connection> {
    // The reply due to one request: the Responders that hold it share it.
    struct PendingReply {
        uint64_t id = 0;
        std::thread::id servingThread;  // the thread that read the request
        bool onHeap = false;            // made for one request, rather than the connection's own
        // Twice the Responders holding it, plus one once it has been sent.
        std::atomic<std::size_t> state{0};
    };

public:
    // Sends the reply of one request, once; later calls are ignored. It may be
    // called from any thread and keeps the connection alive while held; its
    // copies share the one reply. A request whose reply is never called counts
    // as answered once the last copy has gone.
    class Responder {
    public:
        Responder() = default;
        Responder(const Responder& other);
        Responder(Responder&& other) noexcept;
        Responder& operator=(Responder other) noexcept;
        ~Responder();
        void operator()(Wire::ReplyValue value) const;

    private:
        friend class Connection;
        Responder(std::shared_ptr<Connection> connection, PendingReply* reply) noexcept;
        void release() noexcept;

        std::shared_ptr<Connection> connection_;
        PendingReply* reply_ = nullptr;
    };
    using RequestHandler = std::function<void(Wire::Request, Responder)>;

    // `slot` counts the connection against its user's limit while it exists.
    Connection(UniqueFd socket, ThreadGroup& threads, std::unique_ptr<PerUserLimit::Slot> slot = nullptr);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // The requirement the peer's executable must satisfy before any request is served.
    void setCodeSigningRequirement(std::string requirement);
    // The effective user of the peer when it connected.
    uint32_t effectiveUserIdentifier() const;
    void setExportedObject(RequestHandler handler);
    void setInvalidationHandler(std::function<void()> handler);
    // Kept for the interface's sake: nothing on this platform interrupts a connection.
    void setInterruptionHandler(std::function<void()> handler);
    // Judges the peer, then starts serving. Called at most once.
    void resume();

private:
    void serve(const std::shared_ptr<Connection>& self);
    // Returns once no reply is due, or the peer has closed its end.
    void awaitDueReplies();
    void end();
    void deliver(uint64_t id, const Wire::ReplyValue& value, bool onServingThread);
    void replyFinished();
    void drop() noexcept;
    bool beginWriting(std::optional<std::chrono::steady_clock::time_point> deadline);
    void endWriting();

    UniqueFd socket_;
    ThreadGroup& threads_;
    const std::unique_ptr<PerUserLimit::Slot> slot_;
    const std::chrono::nanoseconds acceptedSinceBoot_;
    std::string requirement_;
    RequestHandler exportedObject_;
    std::function<void()> invalidationHandler_;
    std::function<void()> interruptionHandler_;
    std::string servingFrame_;  // the serving thread's reply frames, its memory kept from one to the next
    // The reply handed out with each request while no Responder holds it
    // still; a request read while it is held gets one of its own.
    PendingReply servingReply_;

    // One reply frame at a time: `writing_` is the write lock, taken with a
    // deadline by threads other than the serving one. The serving thread skips
    // it when its own reply is the only one due: no other can be written then,
    // and none can be handed out before that reply has been written.
    std::mutex writeState_;
    std::condition_variable writeFree_;
    bool writing_ = false;
    std::atomic<bool> dropped_{false};

    // Requests handed out whose reply has not been sent. A reply counts until
    // its frame has been written (or given up), so a count of one seen by the
    // serving thread while sending is that very reply.
    std::atomic<std::size_t> pendingReplies_{0};
};

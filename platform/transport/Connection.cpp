#include "platform/transport/Connection.h"

#include "platform/admission/PeerExecutable.h"
#include "platform/transport/FrameStream.h"

#include <poll.h>
#include <sys/socket.h>

#include <chrono>
#include <thread>
#include <utility>

namespace {

// How long a reply sent from another thread may wait for a peer that does not
// read, before the connection is dropped.
constexpr std::chrono::seconds replyTimeout{10};

// How often a half-closed connection looks whether its last reply has been sent.
constexpr std::chrono::milliseconds dueReplyCheck{20};

// A body or reply frame this large is not kept for the next one.
constexpr std::size_t keptBodyCapacity = 256 * 1024;

// PendingReply::state: each Responder adds `holder`; `sentFlag` is set once.
constexpr std::size_t holder = 2;
constexpr std::size_t sentFlag = 1;

}  // namespace

Connection::Responder::Responder(std::shared_ptr<Connection> connection, PendingReply* reply) noexcept
    : connection_(std::move(connection)), reply_(reply) {}

Connection::Responder::Responder(const Responder& other) : connection_(other.connection_), reply_(other.reply_) {
    if (reply_ != nullptr) reply_->state.fetch_add(holder, std::memory_order_relaxed);
}

Connection::Responder::Responder(Responder&& other) noexcept
    : connection_(std::move(other.connection_)), reply_(std::exchange(other.reply_, nullptr)) {}

Connection::Responder& Connection::Responder::operator=(Responder other) noexcept {
    release();
    connection_ = std::move(other.connection_);
    reply_ = std::exchange(other.reply_, nullptr);
    return *this;
}

Connection::Responder::~Responder() { release(); }

// The last holder of a reply never sent counts it as finished. After its own
// decrement it touches the reply no more, unless the reply is its alone: the
// connection may hand its own reply out again at once.
void Connection::Responder::release() noexcept {
    if (reply_ == nullptr) return;
    PendingReply* const reply = std::exchange(reply_, nullptr);
    const bool onHeap = reply->onHeap;
    const std::size_t before = reply->state.fetch_sub(holder, std::memory_order_acq_rel);
    if (before >= 2 * holder) return;
    if (onHeap) delete reply;
    if ((before & sentFlag) == 0) connection_->replyFinished();
}

void Connection::Responder::operator()(Wire::ReplyValue value) const {
    if (reply_ == nullptr || (reply_->state.fetch_or(sentFlag, std::memory_order_acq_rel) & sentFlag) != 0) return;
    connection_->deliver(reply_->id, value, std::this_thread::get_id() == reply_->servingThread);
    connection_->replyFinished();
}

Connection::Connection(UniqueFd socket, ThreadGroup& threads, std::unique_ptr<PerUserLimit::Slot> slot)
    : socket_(std::move(socket)),
      threads_(threads),
      slot_(std::move(slot)),
      acceptedSinceBoot_(PeerExecutable::sinceBoot()) {}

Connection::~Connection() = default;

void Connection::setCodeSigningRequirement(std::string requirement) { requirement_ = std::move(requirement); }

uint32_t Connection::effectiveUserIdentifier() const {
    ucred credentials{};
    socklen_t length = sizeof credentials;
    if (::getsockopt(socket_.get(), SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0) return UINT32_MAX;
    return static_cast<uint32_t>(credentials.uid);
}

void Connection::setExportedObject(RequestHandler handler) { exportedObject_ = std::move(handler); }

void Connection::setInvalidationHandler(std::function<void()> handler) { invalidationHandler_ = std::move(handler); }

void Connection::setInterruptionHandler(std::function<void()> handler) { interruptionHandler_ = std::move(handler); }

void Connection::resume() {
    const bool admitted =
        requirement_.empty() || PeerExecutable::satisfiesRequirement(socket_.get(), requirement_, acceptedSinceBoot_);
    // Without a thread to serve on, the connection ends before its first request.
    if (!admitted || !threads_.start([self = shared_from_this()] { self->serve(self); })) end();
}

void Connection::serve(const std::shared_ptr<Connection>& self) {
    FrameStream::Reader reader(socket_.get());
    std::string body;
    while (!dropped_) {
        const auto status = reader.next(body);
        if (status == FrameStream::ReadStatus::ended) {
            // The peer has said all it will: its replies still due are sent first.
            awaitDueReplies();
            break;
        }
        if (status == FrameStream::ReadStatus::broken) break;
        auto request = Wire::decodeRequest(body);
        if (body.capacity() > keptBodyCapacity) std::string().swap(body);
        if (!request) break;
        pendingReplies_.fetch_add(1, std::memory_order_relaxed);
        // The acquire pairs with the release of the last holder: its reads of the reply are over.
        PendingReply* reply = &servingReply_;
        if (servingReply_.state.load(std::memory_order_acquire) >= holder) {
            reply = new PendingReply;
            reply->onHeap = true;
        }
        reply->id = request->id;
        reply->servingThread = std::this_thread::get_id();
        reply->state.store(holder, std::memory_order_relaxed);
        Responder respond(self, reply);
        try {
            exportedObject_(std::move(*request), std::move(respond));
        } catch (...) {
            break;
        }
    }
    end();
}

void Connection::end() {
    drop();
    if (invalidationHandler_) invalidationHandler_();
    // The handlers hold the exported object; a reply still due keeps only the socket.
    exportedObject_ = nullptr;
    invalidationHandler_ = nullptr;
    interruptionHandler_ = nullptr;
}

void Connection::awaitDueReplies() {
    for (;;) {
        if (pendingReplies_.load(std::memory_order_acquire) == 0) return;
        // No events asked for: poll wakes only when the peer has closed its
        // end (or the connection was dropped), not for the end of input.
        pollfd peer{socket_.get(), 0, 0};
        if (::poll(&peer, 1, static_cast<int>(dueReplyCheck.count())) > 0) return;
    }
}

void Connection::deliver(uint64_t id, const Wire::ReplyValue& value, bool onServingThread) {
    if (dropped_) return;
    if (onServingThread) {
        Wire::encodeReply(id, value, servingFrame_);
        // The acquire pairs with replyFinished: every other reply's frame is whole by now.
        const bool alone = pendingReplies_.load(std::memory_order_acquire) == 1;
        if (!alone) beginWriting(std::nullopt);
        if (!FrameStream::writeAll(socket_.get(), servingFrame_)) drop();
        if (!alone) endWriting();
        if (servingFrame_.capacity() > keptBodyCapacity) std::string().swap(servingFrame_);
        return;
    }
    std::string frame;
    Wire::encodeReply(id, value, frame);
    const auto deadline = std::chrono::steady_clock::now() + replyTimeout;
    if (!beginWriting(deadline)) return drop();
    if (!FrameStream::writeAllBefore(socket_.get(), frame, deadline)) drop();
    endWriting();
}

bool Connection::beginWriting(std::optional<std::chrono::steady_clock::time_point> deadline) {
    std::unique_lock lock(writeState_);
    if (!deadline) {
        writeFree_.wait(lock, [this] { return !writing_; });
    } else if (!writeFree_.wait_until(lock, *deadline, [this] { return !writing_; })) {
        return false;
    }
    writing_ = true;
    return true;
}

void Connection::endWriting() {
    {
        std::lock_guard lock(writeState_);
        writing_ = false;
    }
    writeFree_.notify_one();
}

void Connection::replyFinished() { pendingReplies_.fetch_sub(1, std::memory_order_release); }

void Connection::drop() noexcept {
    dropped_ = true;
    ::shutdown(socket_.get(), SHUT_RDWR);
}

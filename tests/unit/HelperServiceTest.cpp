#include "helper/HelperService.h"
#include "helper/RemovalRequests.h"
#include "helper/linux/RequestDispatch.h"
#include "shared/linux/PlistNode.h"
#include "platform/transport/WireProtocol.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>

using namespace Helper;

namespace {

constexpr uid_t nobodyKnown = 54321;  // a user without an entry in the user database

// Dispatches one request and returns every reply it produced, waiting a
// little for replies that come from another thread.
std::vector<Wire::ReplyValue> repliesTo(const std::shared_ptr<HelperService>& service, Wire::Selector selector,
                                        std::vector<Wire::Argument> arguments) {
    auto mutex = std::make_shared<std::mutex>();
    auto arrived = std::make_shared<std::condition_variable>();
    auto replies = std::make_shared<std::vector<Wire::ReplyValue>>();
    Wire::Request request{1, selector, std::move(arguments)};
    dispatchRequest(service, std::move(request), [=](Wire::ReplyValue value) {
        std::lock_guard lock(*mutex);
        replies->push_back(std::move(value));
        arrived->notify_all();
    });
    std::unique_lock lock(*mutex);
    arrived->wait_for(lock, std::chrono::seconds(10), [&] { return !replies->empty(); });
    return *replies;
}


}  // namespace

TEST(HelperService, EveryOperationRepliesOnceWithItsDeclaredType) {
    auto service = std::make_shared<HelperService>(nobodyKnown);
    const struct {
        Wire::Selector selector;
        std::vector<Wire::Argument> arguments;
        std::size_t replyType;  // index into Wire::ReplyValue; 0 or 1 for optional texts
    } cases[] = {
        {Wire::Selector::removeItems, {}, 2},
        {Wire::Selector::removeChosenItems, {std::vector<std::string>{"/tmp/x"}, true}, 2},
        {Wire::Selector::unloadLaunchDaemon, {"", "", false}, 1},
        {Wire::Selector::setLaunchJob, {"com.apple.x", "/Library/LaunchDaemons/com.apple.x.plist", true}, 1},
        {Wire::Selector::resetPrivacyPermission, {"NoSuchService", "com.example"}, 1},
        {Wire::Selector::setMotionSensor, {false}, 3},
        {Wire::Selector::version, {}, 1},
    };
    for (const auto& c : cases) {
        const auto replies = repliesTo(service, c.selector, c.arguments);
        ASSERT_EQ(replies.size(), 1u) << Wire::info(c.selector).name;
        EXPECT_EQ(replies.front().index(), c.replyType) << Wire::info(c.selector).name;
    }
}

TEST(RemovalRequests, HomeAndTrashOwnerComeFromTheUserDatabase) {
    EXPECT_EQ(clientHomeDirectory(0), std::nullopt) << "root's home is not below /Users/";
    EXPECT_EQ(clientHomeDirectory(nobodyKnown), std::nullopt);

    const TrashOwner unknown = trashOwner(nobodyKnown, "/Users/nobody");
    EXPECT_EQ(unknown.user, nobodyKnown);
    EXPECT_EQ(unknown.group, 20u);
    EXPECT_EQ(unknown.homeFolder, "/Users/nobody") << "kept unchanged when it does not resolve";

    const TrashOwner root = trashOwner(0, "/tmp/");
    EXPECT_EQ(root.group, 0u);
    EXPECT_EQ(root.homeFolder, std::filesystem::canonical("/tmp").string());
}

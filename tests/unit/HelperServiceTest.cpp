#include "helper/HelperService.h"
#include "helper/ListenerDelegate.h"
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
#include <fstream>
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

Wire::ReplyValue replyTo(const std::shared_ptr<HelperService>& service, Wire::Selector selector,
                         std::vector<Wire::Argument> arguments) {
    auto replies = repliesTo(service, selector, std::move(arguments));
    EXPECT_EQ(replies.size(), 1u) << Wire::info(selector).name;
    return replies.empty() ? Wire::ReplyValue{} : replies.front();
}

}  // namespace

TEST(HelperService, VersionIsTheProtocolVersion) {
    auto service = std::make_shared<HelperService>(0);
    EXPECT_EQ(replyTo(service, Wire::Selector::version, {}), Wire::ReplyValue(std::string("1.6")));
}

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

TEST(HelperService, TruthValuesAcceptAnyNonZeroInteger) {
    // The client sends the integer 2 for the BOOL.
    auto service = std::make_shared<HelperService>(0);
    plist_t message = plist_new_dict();
    plist_dict_set_item(message, "id", plist_new_uint(5));
    plist_dict_set_item(message, "selector", plist_new_string("setMotionSensorWithEnabled:reply:"));
    plist_t arguments = plist_new_array();
    plist_array_append_item(arguments, plist_new_uint(2));
    plist_dict_set_item(message, "arguments", arguments);
    const PlistNode owner(message);
    char* bytes = nullptr;
    uint32_t length = 0;
    plist_to_bin(message, &bytes, &length);
    const auto request = Wire::decodeRequest(std::string_view(bytes, length));
    plist_to_bin_free(bytes);
    ASSERT_TRUE(request);
    replyTo(service, Wire::Selector::setMotionSensor, request->arguments);
    EXPECT_TRUE(service->motionOn);
    connectionEnded(*service);
    EXPECT_FALSE(service->motionOn) << "the end handler withdraws the connection's user";
    connectionEnded(*service);
    EXPECT_FALSE(service->motionOn);
}

TEST(RemovalRequests, PathsThatCannotBeJudgedAreNotAllowed) {
    auto service = std::make_shared<HelperService>(0);
    const std::vector<std::string> paths = {
        "relative/x", "/tmp/../tmp/x", "/tmp//x", "/tmp/x/", "/no-such-folder-here/x", "/System", "/", "",
    };
    for (auto selector : {Wire::Selector::removeItems, Wire::Selector::removeChosenItems}) {
        for (bool toTrash : {false, true}) {
            const auto reply = replyTo(service, selector, {paths, toTrash});
            Wire::TextDictionary expected;
            for (const auto& path : paths) expected[path] = "Path is not allowed";
            EXPECT_EQ(reply, Wire::ReplyValue(expected)) << Wire::info(selector).name << " " << toTrash;
        }
    }
}

TEST(RemovalRequests, ChosenItemsOfAClientWithoutHomeAreNotAllowed) {
    char pattern[] = "/tmp/chosen-test-XXXXXX";
    const std::string folder = ::mkdtemp(pattern);
    std::ofstream(folder + "/item") << "x";
    auto service = std::make_shared<HelperService>(0);  // root's home is not below /Users/
    const auto reply = replyTo(service, Wire::Selector::removeChosenItems, {std::vector<std::string>{folder + "/item"}, false});
    EXPECT_EQ(reply, Wire::ReplyValue(Wire::TextDictionary{{folder + "/item", "Path is not allowed"}}));
    EXPECT_TRUE(std::filesystem::exists(folder + "/item"));
    std::filesystem::remove_all(folder);
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

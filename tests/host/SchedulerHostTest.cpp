#include "host/SchedulerHost.h"

#include <chrono>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/security/UserContext.h"
#include "tests/support/TextMessage.h"

namespace Zent::HostTests {
namespace {

using Common::Kernel::IMessage;
using Common::Kernel::UserContextPtr;
using Host::CSchedulerHost;
using Testing::CTextMessage;

const std::string kModuleLibrary = HOST_TEST_MODULE_LIBRARY;
const std::string kRecordingModule = "Zent::HostTests::CRecordingModule";
constexpr std::int32_t kReplyType = CTextMessage::kType + 1;  // the test module's echo
constexpr auto kPatience = std::chrono::seconds(10);

// A host over the test plug-in; records log lines and what goes over the bus.
class SchedulerHostTest : public testing::Test {
protected:
    SchedulerHostTest() : host_(Options()) {
        host_.GetBus().AddObserver(
            [this](const std::shared_ptr<IMessage>& message, const UserContextPtr& context) {
                std::lock_guard lock(lock_);
                seen_.push_back({std::to_string(message->GetType()) + " " +
                                     dynamic_cast<const CTextMessage&>(*message).Text(),
                                 context});
            });
    }
    CSchedulerHost::Options Options() {
        CSchedulerHost::Options options;
        options.logSink = [this](const Host::LogRecord& record) {
            std::lock_guard lock(lock_);
            lines_.push_back(record.moduleName + ": " + record.text);
        };
        return options;
    }
    std::vector<std::pair<std::string, UserContextPtr>> Seen() {
        std::lock_guard lock(lock_);
        return std::exchange(seen_, {});
    }

    std::mutex lock_;
    std::vector<std::string> lines_;
    std::vector<std::pair<std::string, UserContextPtr>> seen_;
    CSchedulerHost host_;
};

TEST_F(SchedulerHostTest, DrivesTheModuleThroughItsLifecycle) {
    host_.Load(kModuleLibrary, kRecordingModule);
    host_.Initialize();
    host_.Start();
    host_.PrepareShutdown();
    EXPECT_FALSE(host_.Stop(false));
    EXPECT_TRUE(host_.Stop(false));
    host_.Unload();
    EXPECT_EQ(host_.GetModule(), nullptr);

    EXPECT_EQ(lines_, (std::vector<std::string>{
                          "SchedulerHost: Loading " + kRecordingModule + " from " + kModuleLibrary,
                          "SchedulerHost: Loaded module RecordingModule",
                          "SchedulerHost: Initializing RecordingModule",
                          "RecordingModule: Initialize",
                          "SchedulerHost: Initialized RecordingModule",
                          "SchedulerHost: Starting RecordingModule",
                          "RecordingModule: Start",
                          "SchedulerHost: Preparing the shutdown of RecordingModule",
                          "RecordingModule: PrepareShutdown",
                          "SchedulerHost: Graceful stop of RecordingModule",
                          "RecordingModule: Stop graceful",
                          "SchedulerHost: RecordingModule is busy and still running",
                          "SchedulerHost: Graceful stop of RecordingModule",
                          "RecordingModule: Stop graceful",
                          "SchedulerHost: RecordingModule has stopped",
                          "SchedulerHost: Unloading RecordingModule; deliveries dropped: 0",
                          "RecordingModule: destroyed",
                          "SchedulerHost: Unloaded RecordingModule",
                      }));
}

TEST_F(SchedulerHostTest, RepliesReachObserversWithTheRequestersContextUntilUnloaded) {
    host_.Load(kModuleLibrary, kRecordingModule);
    host_.Initialize();
    host_.Start();
    const auto requester = std::make_shared<Common::Security::CUserContext>();
    for (const char* text : {"a", "b"})
        EXPECT_TRUE(host_.Send(std::make_shared<CTextMessage>(text), requester));
    ASSERT_TRUE(host_.GetBus().WaitUntilIdle(kPatience));
    std::vector<std::string> replies;
    for (const auto& [message, context] : Seen()) {
        EXPECT_EQ(context, requester) << message;
        if (message.starts_with(std::to_string(kReplyType))) replies.push_back(message);
    }
    EXPECT_EQ(replies, (std::vector<std::string>{std::to_string(kReplyType) + " a",
                                                 std::to_string(kReplyType) + " b"}));

    host_.Unload();
    EXPECT_TRUE(host_.Send(std::make_shared<CTextMessage>("c"), nullptr));
    ASSERT_TRUE(host_.GetBus().WaitUntilIdle(kPatience));
    EXPECT_EQ(Seen().size(), 1u);  // the request only
    EXPECT_EQ(host_.GetBus().GetDeliveredCount(), 2u);

    host_.Load(kModuleLibrary, kRecordingModule);
    host_.Initialize();
    host_.Send(std::make_shared<CTextMessage>("d"), nullptr);
    ASSERT_TRUE(host_.GetBus().WaitUntilIdle(kPatience));
    EXPECT_EQ(Seen().back().first, std::to_string(kReplyType) + " d");
}

TEST_F(SchedulerHostTest, StepsNeedALoadedModuleAndOnlyOne) {
    EXPECT_THROW(host_.Initialize(), std::logic_error);
    EXPECT_THROW(host_.Start(), std::logic_error);
    EXPECT_THROW(host_.Stop(true), std::logic_error);
    EXPECT_NO_THROW(host_.Unload());

    host_.Load(kModuleLibrary, kRecordingModule);
    EXPECT_THROW(host_.Load(kModuleLibrary, kRecordingModule), std::logic_error);
    host_.Unload();
    EXPECT_THROW(host_.Load("/nonexistent/libNothing.so"), std::runtime_error);
    EXPECT_EQ(host_.GetModule(), nullptr);
}

}  // namespace
}  // namespace Zent::HostTests

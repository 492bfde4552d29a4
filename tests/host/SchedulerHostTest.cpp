#include "host/SchedulerHost.h"

#include <chrono>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/security/UserContext.h"
#include "tests/host/TestMessage.h"

namespace Zent::HostTests {
namespace {

using Common::Kernel::IMessage;
using Common::Kernel::UserContextPtr;
using Host::CSchedulerHost;

const std::string kModuleLibrary = HOST_TEST_MODULE_LIBRARY;
const std::string kRecordingModule = "Zent::HostTests::CRecordingModule";
constexpr auto kPatience = std::chrono::seconds(10);

// A host over the test plug-in; records log lines and what goes over the bus.
class SchedulerHostTest : public testing::Test {
protected:
    SchedulerHostTest() : host_(Options()) {
        host_.GetBus().AddObserver(
            [this](const std::shared_ptr<IMessage>& message, const UserContextPtr& context) {
                std::lock_guard lock(lock_);
                seen_.emplace_back(std::dynamic_pointer_cast<CTestMessage>(message), context);
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

    std::vector<std::string> Lines() {
        std::lock_guard lock(lock_);
        return lines_;
    }
    std::vector<std::pair<std::shared_ptr<CTestMessage>, UserContextPtr>> Seen() {
        std::lock_guard lock(lock_);
        return seen_;
    }

    std::mutex lock_;
    std::vector<std::string> lines_;
    std::vector<std::pair<std::shared_ptr<CTestMessage>, UserContextPtr>> seen_;
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

    EXPECT_EQ(Lines(), (std::vector<std::string>{
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

TEST_F(SchedulerHostTest, RepliesReachObserversWithTheRequestersContext) {
    host_.Load(kModuleLibrary, kRecordingModule);
    host_.Initialize();
    host_.Start();
    const auto requester = std::make_shared<Common::Security::CUserContext>();
    for (int i = 0; i < 5; ++i) {
        EXPECT_TRUE(host_.Send(std::make_shared<CTestMessage>(900, 1, i), requester));
    }
    ASSERT_TRUE(host_.GetBus().WaitUntilIdle(kPatience));

    std::vector<int> replies;
    for (const auto& [message, context] : Seen()) {
        if (message->GetType() != 901) continue;
        replies.push_back(message->GetSequence());
        EXPECT_EQ(context, requester);
    }
    EXPECT_EQ(replies, (std::vector<int>{0, 1, 2, 3, 4}));
}

TEST_F(SchedulerHostTest, NothingIsDeliveredToAnUnloadedModule) {
    host_.Load(kModuleLibrary, kRecordingModule);
    host_.Initialize();
    host_.Unload();

    EXPECT_TRUE(host_.Send(std::make_shared<CTestMessage>(900, 1, 0), nullptr));
    ASSERT_TRUE(host_.GetBus().WaitUntilIdle(kPatience));
    const auto seen = Seen();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].first->GetType(), 900);
    EXPECT_EQ(host_.GetBus().GetDeliveredCount(), 0u);

    host_.Load(kModuleLibrary, kRecordingModule);
    host_.Initialize();
    host_.Send(std::make_shared<CTestMessage>(900, 1, 1), nullptr);
    ASSERT_TRUE(host_.GetBus().WaitUntilIdle(kPatience));
    EXPECT_EQ(Seen().back().first->GetType(), 901);
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

TEST(SchedulerHostOptionsTest, TranslatorCanBeSwitchedOff) {
    CSchedulerHost::Options options;
    options.withTranslator = false;
    CSchedulerHost host(options);
    EXPECT_FALSE(host.GetResources().HasResource(Common::Kernel::ResourceNumber::Translator));
    EXPECT_TRUE(host.GetResources().HasResource(Common::Kernel::ResourceNumber::Configuration));
}

}  // namespace
}  // namespace Zent::HostTests

// The frame of a module: message queueing, the processing thread's life, graceful and
// forced stops, failures inside processors, and log lines.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "common/logging/LoggerBridge.h"
#include "common/module/CommonModule.h"
#include "common/security/SystemUser.h"
#include "common/security/UserContext.h"
#include "host/ResourceProvider.h"
#include "tests/support/NamedUser.h"
#include "tests/support/RecordingLogger.h"
#include "tests/support/TextMessage.h"

namespace Zent::Common::Module {
namespace {

using namespace std::chrono_literals;
using Security::CUserContext;
using Testing::CNamedUser;
using Testing::CTextMessage;
using Texts = std::vector<std::string>;

// Records the subscriber; the test plays the kernel and calls OnMessage itself.
class CRecordingBus : public Kernel::IBusResource {
public:
    void Subscribe(std::shared_ptr<Kernel::ISubscriber> subscriber, std::int32_t) override {
        this->subscriber = std::move(subscriber);
    }
    bool Send(std::shared_ptr<Kernel::IMessage>, Kernel::UserContextPtr) override { return true; }
    std::shared_ptr<Kernel::ISubscriber> subscriber;
};

class CTestModule : public CCommonModule {
public:
    explicit CTestModule(std::shared_ptr<IMessageProcessor> processor)
        : processor_(std::move(processor)) {
        SetIdleTimeout(300ms);
    }
    ~CTestModule() override { StopProcessingThreads(); }
    void PrepareShutdown() override {}
    std::string GetName() const override { return "TestModule"; }

protected:
    void OnInitialize(std::shared_ptr<Kernel::IResourceProvider>) override {
        RegisterMessageProcessor({CTextMessage::kType}, processor_);
    }

private:
    const std::shared_ptr<IMessageProcessor> processor_;
};

// The test is the module's processor. It records "<text> <user uuid or -> <thread>", threads
// numbered from 0 in the order they come. "block" waits until released, "throw" throws a
// standard exception, "throw-int" something else.
class CommonModuleTest : public ::testing::Test, public IMessageProcessor {
protected:
    void SetUp() override {
        module->Initialize(Host::CResourceProvider::CreateDefault(bus, logger, false));
    }
    void Process(std::shared_ptr<Kernel::IMessage> message) override {
        const std::string text = dynamic_cast<const CTextMessage&>(*message).Text();
        {
            std::unique_lock lock(mutex);
            // A fresh number for every thread, even one that reuses an ended thread's id.
            static std::atomic<int> threadCount{0};
            thread_local const int thread = ++threadCount;
            if (firstThread == 0) firstThread = thread;
            const auto context = CUserContext::GetCurrent();
            processed.push_back(text + " " + (context ? context->GetUserUuid() : "-") + " " +
                                std::to_string(thread - firstThread));
            changed.notify_all();
            changed.wait(lock, [&] { return text != "block" || released; });
        }
        if (text == "throw") throw std::runtime_error("thirteen is unlucky");
        if (text == "throw-int") throw 14;
    }
    bool WaitFor(std::size_t count) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, 3s, [&] { return processed.size() >= count; });
    }
    void Release(bool released = true) {
        std::lock_guard lock(mutex);
        this->released = released;
        changed.notify_all();
    }
    Texts Processed() {
        std::lock_guard lock(mutex);
        return processed;
    }
    // Delivers as the kernel would: on a thread that is not the processing thread.
    void Deliver(const std::string& text, std::shared_ptr<CUserContext> context = nullptr) {
        bus->subscriber->OnMessage(std::make_shared<CTextMessage>(text), std::move(context));
    }
    // A graceful stop is refused while a delivery is being processed; a caller retries.
    bool StopGracefully() {
        for (int attempt = 0; attempt < 100; ++attempt, std::this_thread::sleep_for(10ms)) {
            if (module->Stop(false)) return true;
        }
        return false;
    }
    // "<level> <text>"
    Texts Lines() {
        Texts lines;
        for (const auto& line : logger->Lines()) {
            EXPECT_EQ(line.module, "TestModule");
            lines.push_back(std::to_string(line.level) + " " + line.text);
        }
        return lines;
    }

    std::mutex mutex;
    std::condition_variable changed;
    Texts processed;
    int firstThread = 0;
    bool released = false;
    std::shared_ptr<CRecordingBus> bus = std::make_shared<CRecordingBus>();
    std::shared_ptr<Testing::CRecordingLogger> logger =
        std::make_shared<Testing::CRecordingLogger>();
    // Stopped before the members it uses go.
    std::unique_ptr<CTestModule> module = std::make_unique<CTestModule>(
        std::shared_ptr<IMessageProcessor>(std::shared_ptr<void>(), this));
};

TEST_F(CommonModuleTest, DeliveriesBeforeStartWaitAndRunInOrderWithTheirContextsOnDemand) {
    // Graceful stops before the first start must not swallow what comes later.
    EXPECT_TRUE(module->Stop(false));
    EXPECT_TRUE(module->Stop(false));
    const auto alice = std::make_shared<CUserContext>(std::make_shared<CNamedUser>("alice"));
    Deliver("a", alice);
    Deliver("block", std::make_shared<CUserContext>(std::make_shared<CNamedUser>("bob")));
    Deliver("a", alice);
    std::this_thread::sleep_for(100ms);
    EXPECT_TRUE(Processed().empty());
    std::string queue;
    EXPECT_FALSE(bus->subscriber->DescribeQueue(queue));
    EXPECT_EQ(queue, "TestModule:Text:a,Text:block,Text:a");
    CUserContext::SetCurrent(alice);
    module->Start();  // as the system user
    const auto system = CUserContext::GetCurrent();
    EXPECT_EQ(system->GetUserUuid(), Security::CSystemUser::kUuid);
    ASSERT_TRUE(WaitFor(2));
    Release();
    ASSERT_TRUE(WaitFor(3));
    // An idle thread ends; the next delivery starts another.
    std::this_thread::sleep_for(700ms);
    Deliver("a");
    ASSERT_TRUE(WaitFor(4));
    EXPECT_EQ(Processed(),
              (Texts{"a uuid-alice 0", "block uuid-bob 0", "a uuid-alice 0", "a - 1"}));
    EXPECT_TRUE(StopGracefully());
    EXPECT_EQ(CUserContext::GetCurrent(), system);  // kept, not replaced
}

TEST_F(CommonModuleTest, StopsGracefullyOnlyWhenIdleAndByForceForGood) {
    module->Start();
    Deliver("block");
    ASSERT_TRUE(WaitFor(1));
    Deliver("throw");
    Deliver("throw-int");
    EXPECT_FALSE(module->Stop(false));
    Release();
    ASSERT_TRUE(WaitFor(3));
    EXPECT_TRUE(StopGracefully());
    // Stopped: a delivery waits for the next Start.
    Release(false);
    Deliver("block");
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(Processed().size(), 3u);
    module->Start();
    ASSERT_TRUE(WaitFor(4));

    // By force: the taken delivery is answered, the rest counted.
    for (int i = 0; i < 3; ++i)
        Deliver("a");
    std::jthread release([this] {
        std::this_thread::sleep_for(100ms);
        Release();
    });
    EXPECT_TRUE(module->Stop(true));
    EXPECT_EQ(Processed().size(), 4u);
    EXPECT_EQ(Lines(),
              (Texts{"4 thirteen is unlucky", "4 Unknown exception while processing a message",
                     "1 There were 3 messages left unprocessed in a queue"}));
    // Stopped for good: neither Start nor new deliveries start a thread.
    module->Start();
    Deliver("a");
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(Processed().size(), 4u);
}

TEST(LoggerBridgeTest, PrefixesNameTheComponentChain) {
    using Products::Common::Zent::TraceLog::CLogStream;
    auto logger = std::make_shared<Testing::CRecordingLogger>();
    auto at = [logger](std::int32_t level) {
        return [logger, level] { return CLogStream(logger, level, "M"); };
    };
    const Library::Logging::CLoggerBridge module(at(2), at(1), at(4));
    const Library::Logging::CLoggerBridge scheduler(module, "CTimeScheduler");
    module.Info() << "plain";
    scheduler.Detail() << "Adding " << 1;
    Library::Logging::CLoggerBridge(scheduler, "ScheduledTicks").Error() << "x";
    using Line = Testing::CRecordingLogger::Line;
    EXPECT_EQ(logger->Lines(), (std::vector<Line>{{"plain", 2, "M"},
                                                  {"CTimeScheduler : Adding 1", 1, "M"},
                                                  {"CTimeScheduler:ScheduledTicks : x", 4, "M"}}));
}

}  // namespace
}  // namespace Zent::Common::Module

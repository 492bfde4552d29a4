// The message-processing frame of a module: queueing, the processing thread's life,
// graceful and forced stops, failures inside processors, and resource acquisition.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "common/module/CommonModule.h"
#include "common/security/SystemUser.h"
#include "common/security/UserContext.h"
#include "host/ResourceProvider.h"
#include "tests/support/RecordingLogger.h"
#include "tests/support/TextMessage.h"

namespace Zent::Common::Module {
namespace {

using namespace std::chrono_literals;
using Security::CUserContext;
using Testing::CTextMessage;

// Records the subscriber; the test plays the kernel and calls OnMessage itself.
class CRecordingBus : public Kernel::IBusResource {
public:
    void Subscribe(std::shared_ptr<Kernel::ISubscriber> subscriber, std::int32_t) override {
        this->subscriber = std::move(subscriber);
    }
    bool Send(std::shared_ptr<Kernel::IMessage>, Kernel::UserContextPtr) override { return true; }
    std::shared_ptr<Kernel::ISubscriber> subscriber;
};

// Records each text with the user context and the thread it was processed on. "block"
// waits until released, "throw" throws a standard exception, "throw-int" something else.
class CTestProcessor : public IMessageProcessor {
public:
    void Process(std::shared_ptr<Kernel::IMessage> message) override {
        const std::string text = dynamic_cast<const CTextMessage&>(*message).Text();
        {
            std::unique_lock lock(mutex);
            processed.push_back(text);
            contexts.push_back(CUserContext::GetCurrent());
            // A fresh value for every thread, even one that reuses an ended thread's id.
            static std::atomic<int> threadCount{0};
            thread_local const int thread = ++threadCount;
            threads.push_back(thread);
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
    void Release() {
        std::lock_guard lock(mutex);
        released = true;
        changed.notify_all();
    }
    std::vector<std::string> Processed() {
        std::lock_guard lock(mutex);
        return processed;
    }

    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> processed;
    std::vector<std::shared_ptr<CUserContext>> contexts;
    std::vector<int> threads;
    bool released = false;
};

class CTestModule : public CCommonModule {
public:
    CTestModule(std::shared_ptr<CTestProcessor> processor, std::chrono::milliseconds idle)
        : processor_(std::move(processor)) {
        SetIdleTimeout(idle);
    }
    ~CTestModule() override { StopProcessingThreads(); }
    void PrepareShutdown() override {}
    std::string GetName() const override { return "TestModule"; }

protected:
    void OnInitialize(std::shared_ptr<Kernel::IResourceProvider>) override {
        RegisterMessageProcessor({CTextMessage::kType}, processor_);
    }

private:
    std::shared_ptr<CTestProcessor> processor_;
};

class CommonModuleTest : public ::testing::Test {
protected:
    void SetUp() override { Initialize(2s); }
    void Initialize(std::chrono::milliseconds idle) {
        module = std::make_unique<CTestModule>(processor, idle);
        module->Initialize(Host::CResourceProvider::CreateDefault(bus, logger, false));
    }
    // Delivers as the kernel would: on a thread that is not the processing thread.
    void Deliver(const std::string& text, std::shared_ptr<CUserContext> context = nullptr) {
        bus->subscriber->OnMessage(std::make_shared<CTextMessage>(text), std::move(context));
    }
    // A graceful stop is refused while a delivery is being processed; a caller retries.
    bool StopGracefully() {
        for (int attempt = 0; attempt < 100; ++attempt) {
            if (module->Stop(false)) return true;
            std::this_thread::sleep_for(10ms);
        }
        return false;
    }
    std::vector<std::string> LinesAt(std::int32_t level) {
        std::vector<std::string> found;
        for (const auto& line : logger->Lines()) {
            EXPECT_EQ(line.module, "TestModule");
            if (line.level == level) found.push_back(line.text);
        }
        return found;
    }

    std::shared_ptr<CTestProcessor> processor = std::make_shared<CTestProcessor>();
    std::shared_ptr<CRecordingBus> bus = std::make_shared<CRecordingBus>();
    std::shared_ptr<Testing::CRecordingLogger> logger =
        std::make_shared<Testing::CRecordingLogger>();
    std::unique_ptr<CTestModule> module;
};

TEST_F(CommonModuleTest, DeliveriesBeforeStartWaitAndRunInOrderWithTheirContexts) {
    // Graceful stops before the first start must not swallow what comes later.
    EXPECT_TRUE(module->Stop(false));
    EXPECT_TRUE(module->Stop(false));
    auto alice = std::make_shared<CUserContext>();
    auto bob = std::make_shared<CUserContext>();
    Deliver("a", alice);
    Deliver("block", bob);
    Deliver("a", alice);
    std::this_thread::sleep_for(100ms);
    EXPECT_TRUE(processor->Processed().empty());
    std::string queue;
    EXPECT_FALSE(bus->subscriber->DescribeQueue(queue));
    EXPECT_EQ(queue, "TestModule:Text:a,Text:block,Text:a");

    module->Start();
    ASSERT_TRUE(processor->WaitFor(2));
    processor->Release();
    ASSERT_TRUE(processor->WaitFor(3));
    EXPECT_EQ(processor->Processed(), (std::vector<std::string>{"a", "block", "a"}));
    EXPECT_EQ(processor->contexts, (std::vector<std::shared_ptr<CUserContext>>{alice, bob, alice}));
    EXPECT_TRUE(bus->subscriber->DescribeQueue(queue));
    EXPECT_EQ(queue, "");
}

TEST_F(CommonModuleTest, GracefulStopIsRefusedWhileBusyAndGrantedWhenIdle) {
    module->Start();
    Deliver("block");
    ASSERT_TRUE(processor->WaitFor(1));
    Deliver("a");
    EXPECT_FALSE(module->Stop(false));

    processor->Release();
    ASSERT_TRUE(processor->WaitFor(2));
    EXPECT_TRUE(StopGracefully());
    // Stopped: a delivery waits for the next Start.
    Deliver("a");
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(processor->Processed().size(), 2u);
    module->Start();
    EXPECT_TRUE(processor->WaitFor(3));
}

TEST_F(CommonModuleTest, ForcedStopAnswersTheTakenDeliveryAndCountsTheRest) {
    module->Start();
    Deliver("block");
    ASSERT_TRUE(processor->WaitFor(1));
    for (int i = 0; i < 3; ++i)
        Deliver("a");
    std::thread release([this] {
        std::this_thread::sleep_for(100ms);
        processor->Release();
    });
    EXPECT_TRUE(module->Stop(true));
    release.join();
    EXPECT_EQ(processor->Processed(), (std::vector<std::string>{"block"}));
    EXPECT_EQ(LinesAt(1),
              (std::vector<std::string>{"There were 3 messages left unprocessed in a queue"}));

    // Stopped for good: neither Start nor new deliveries start a thread.
    module->Start();
    Deliver("a");
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(processor->Processed().size(), 1u);
}

TEST_F(CommonModuleTest, FailuresInsideAProcessorAreLoggedAndProcessingGoesOn) {
    module->Start();
    Deliver("throw");
    Deliver("throw-int");
    Deliver("a");
    ASSERT_TRUE(processor->WaitFor(3));
    EXPECT_TRUE(StopGracefully());
    EXPECT_EQ(LinesAt(4),
              (std::vector<std::string>{"thirteen is unlucky",
                                        "Unknown exception while processing a message"}));
}

TEST_F(CommonModuleTest, AnIdleThreadEndsAndTheNextDeliveryStartsAnother) {
    Initialize(200ms);
    module->Start();
    Deliver("a");
    ASSERT_TRUE(processor->WaitFor(1));
    std::this_thread::sleep_for(500ms);
    Deliver("a");
    ASSERT_TRUE(processor->WaitFor(2));
    EXPECT_NE(processor->threads[0], processor->threads[1]);
    EXPECT_TRUE(StopGracefully());
}

TEST_F(CommonModuleTest, StartAndStopActAsTheSystemUser) {
    CUserContext::SetCurrent(std::make_shared<CUserContext>());
    module->Start();
    auto context = CUserContext::GetCurrent();
    EXPECT_EQ(context->GetUserUuid(), Security::CSystemUser::kUuid);
    module->Stop(false);
    EXPECT_EQ(CUserContext::GetCurrent(), context);  // kept, not replaced
}

TEST(CommonModuleResources, AMissingOrMistypedResourceThrowsItsTextAndKeepsTheEarlierOnes) {
    const std::pair<int, const char*> cases[] = {
        {1, "Bad cast to Zent::Common::Kernel::IBusResource"},
        {3, "Bad cast to Zent::Common::Kernel::ILoggerResource"},
        {4, "Bad cast to Zent::Common::Kernel::IIdGeneratorResource"},
        {2, "Bad cast to Zent::Common::Kernel::IInstallConfigurationResource"},
        {11, "Bad cast to Zent::Common::Kernel::IConfigurationResource"},
    };
    for (const auto& [missing, text] : cases) {
        const auto bus = std::make_shared<CRecordingBus>();
        auto provider = Host::CResourceProvider::CreateDefault(
            bus, std::make_shared<Testing::CRecordingLogger>());
        if (missing == 1)
            provider->Remove(missing);
        else
            provider->Set(missing, bus);  // of another type
        CTestModule module(std::make_shared<CTestProcessor>(), 2s);
        try {
            module.Initialize(provider);
            ADD_FAILURE() << "no exception for resource " << missing;
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), text);
        }
        EXPECT_EQ(module.GetLogger() != nullptr, missing != 1 && missing != 3);
    }
}

}  // namespace
}  // namespace Zent::Common::Module

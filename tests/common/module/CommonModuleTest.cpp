// The message-processing frame of a module: queueing, the processing thread's life,
// graceful and forced stops, failures inside processors, and resource acquisition.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "common/kernel/IBusResource.h"
#include "common/kernel/IConfigurationResource.h"
#include "common/kernel/ILoggerResource.h"
#include "common/module/CommonModule.h"
#include "common/security/SystemUser.h"
#include "common/security/UserContext.h"

namespace {

using namespace Zent::Common;
using namespace std::chrono_literals;

class CNumberMessage : public Kernel::IMessage {
public:
    explicit CNumberMessage(std::int32_t type) : type_(type) {}
    std::int32_t GetType() const override { return type_; }
    std::string GetTypeName() const override { return "Number" + std::to_string(type_); }
    bool IsEqual(const std::shared_ptr<Kernel::IMessage>& other) const override {
        return other && other->GetType() == type_;
    }

private:
    std::int32_t type_;
};

struct LogLine {
    std::string text;
    std::int32_t level;
};

class CRecordingLogger : public Kernel::ILoggerResource {
public:
    void Log(const std::string& text, std::int32_t level, const std::string& module) override {
        std::lock_guard lock(mutex);
        EXPECT_EQ(module, "TestModule");
        lines.push_back({text, level});
    }
    std::vector<LogLine> Lines() {
        std::lock_guard lock(mutex);
        return lines;
    }

    std::mutex mutex;
    std::vector<LogLine> lines;
};

// Records subscriptions; the test plays the kernel and calls OnMessage itself.
class CRecordingBus : public Kernel::IBusResource {
public:
    void Subscribe(std::shared_ptr<Kernel::ISubscriber> subscriber, std::int32_t type) override {
        subscriptions.emplace_back(type, std::move(subscriber));
    }
    bool Send(std::shared_ptr<Kernel::IMessage>, Kernel::UserContextPtr) override { return true; }

    std::vector<std::pair<std::int32_t, std::shared_ptr<Kernel::ISubscriber>>> subscriptions;
};

class CNoIds : public Kernel::IIdGeneratorResource {
    std::uint32_t NextId() override { return 1; }
};
template <typename Interface>
class CEmptySettings : public Interface {
    std::optional<std::string> GetValue(const std::string&) const override { return {}; }
};
using CEmptyConfiguration = CEmptySettings<Kernel::IConfigurationResource>;
using CEmptyInstallConfiguration = CEmptySettings<Kernel::IInstallConfigurationResource>;

class CProvider : public Kernel::IResourceProvider {
public:
    std::shared_ptr<Kernel::IResource> GetResource(int number) override {
        auto found = resources.find(number);
        return found == resources.end() ? nullptr : found->second;
    }
    bool HasResource(int number) override { return resources.count(number) != 0; }

    std::map<int, std::shared_ptr<Kernel::IResource>> resources;
};

// Processes numbers; 13 throws a standard exception, 14 something else, 99 blocks until
// released. Every processed number is recorded with the user context it ran under.
class CTestProcessor : public Module::IMessageProcessor {
public:
    void Process(std::shared_ptr<Kernel::IMessage> message) override {
        const std::int32_t type = message->GetType();
        {
            std::unique_lock lock(mutex);
            processed.push_back(type);
            contexts.push_back(Security::CUserContext::GetCurrent());
            // A fresh value for every thread, even one that reuses an ended thread's id.
            static std::atomic<int> threadCount{0};
            thread_local const int thread = ++threadCount;
            threads.push_back(thread);
            changed.notify_all();
            if (type == 99) {
                busy = true;
                changed.notify_all();
                changed.wait(lock, [this] { return released; });
                busy = false;
            }
        }
        if (type == 13) throw std::runtime_error("thirteen is unlucky");
        if (type == 14) throw 14;
    }

    bool WaitFor(std::size_t count, std::chrono::milliseconds timeout = 3s) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, timeout, [&] { return processed.size() >= count; });
    }
    bool WaitBusy() {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, 3s, [&] { return busy; });
    }
    void Release() {
        std::lock_guard lock(mutex);
        released = true;
        changed.notify_all();
    }
    std::vector<std::int32_t> Processed() {
        std::lock_guard lock(mutex);
        return processed;
    }

    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::int32_t> processed;
    std::vector<std::shared_ptr<Security::CUserContext>> contexts;
    std::vector<int> threads;
    bool busy = false;
    bool released = false;
};

class CTestModule : public Module::CCommonModule {
public:
    explicit CTestModule(std::shared_ptr<CTestProcessor> processor,
                         std::chrono::milliseconds idle = 2s)
        : processor_(std::move(processor)) {
        SetIdleTimeout(idle);
    }
    ~CTestModule() override { StopProcessingThreads(); }
    void PrepareShutdown() override {}
    std::string GetName() const override { return "TestModule"; }

protected:
    void OnInitialize(std::shared_ptr<Kernel::IResourceProvider>) override {
        RegisterMessageProcessor({7, 13, 14, 99}, processor_);
    }

private:
    std::shared_ptr<CTestProcessor> processor_;
};

class CommonModuleTest : public ::testing::Test {
protected:
    void SetUp() override { Initialize(2s); }

    void Initialize(std::chrono::milliseconds idle) {
        module = std::make_unique<CTestModule>(processor, idle);
        bus = std::make_shared<CRecordingBus>();
        provider->resources = {{1, bus},
                               {2, std::make_shared<CEmptyInstallConfiguration>()},
                               {3, logger},
                               {4, std::make_shared<CNoIds>()},
                               {11, std::make_shared<CEmptyConfiguration>()}};
        module->Initialize(provider);
    }

    // Delivers as the kernel would: on a thread that is not the processing thread.
    void Deliver(std::int32_t type, std::shared_ptr<Security::CUserContext> context = nullptr) {
        Subscriber()->OnMessage(std::make_shared<CNumberMessage>(type), std::move(context));
    }
    // A graceful stop is refused while a delivery is being processed; a caller retries.
    bool StopGracefully() {
        for (int attempt = 0; attempt < 100; ++attempt) {
            if (module->Stop(false)) return true;
            std::this_thread::sleep_for(10ms);
        }
        return false;
    }
    std::shared_ptr<Kernel::ISubscriber> Subscriber() { return bus->subscriptions.at(0).second; }

    std::vector<LogLine> LinesAt(std::int32_t level) {
        std::vector<LogLine> found;
        for (const LogLine& line : logger->Lines()) {
            if (line.level == level) found.push_back(line);
        }
        return found;
    }

    std::shared_ptr<CTestProcessor> processor = std::make_shared<CTestProcessor>();
    std::shared_ptr<CRecordingBus> bus = std::make_shared<CRecordingBus>();
    std::shared_ptr<CRecordingLogger> logger = std::make_shared<CRecordingLogger>();
    std::shared_ptr<CProvider> provider = std::make_shared<CProvider>();
    std::unique_ptr<CTestModule> module;
};

TEST_F(CommonModuleTest, OneSubscriberIsSubscribedOncePerType) {
    ASSERT_EQ(bus->subscriptions.size(), 4u);
    for (const auto& [type, subscriber] : bus->subscriptions) {
        EXPECT_EQ(subscriber, Subscriber()) << type;
    }
}

TEST_F(CommonModuleTest, DeliveriesBeforeStartWaitAndRunInOrderWithTheirContexts) {
    auto alice = std::make_shared<Security::CUserContext>();
    auto bob = std::make_shared<Security::CUserContext>();
    Deliver(7, alice);
    Deliver(99, bob);
    Deliver(7, alice);
    std::this_thread::sleep_for(100ms);
    EXPECT_TRUE(processor->Processed().empty());

    std::string queue;
    EXPECT_FALSE(Subscriber()->DescribeQueue(queue));
    EXPECT_EQ(queue, "TestModule:Number7,Number99,Number7");

    module->Start();
    ASSERT_TRUE(processor->WaitBusy());
    processor->Release();
    ASSERT_TRUE(processor->WaitFor(3));
    EXPECT_EQ(processor->Processed(), (std::vector<std::int32_t>{7, 99, 7}));
    EXPECT_EQ(processor->contexts,
              (std::vector<std::shared_ptr<Security::CUserContext>>{alice, bob, alice}));
    EXPECT_TRUE(Subscriber()->DescribeQueue(queue));
    EXPECT_EQ(queue, "");
}

TEST_F(CommonModuleTest, GracefulStopIsRefusedWhileBusyAndGrantedWhenIdle) {
    module->Start();
    Deliver(99);
    ASSERT_TRUE(processor->WaitBusy());
    Deliver(7);
    EXPECT_FALSE(module->Stop(false));

    processor->Release();
    ASSERT_TRUE(processor->WaitFor(2));
    EXPECT_TRUE(StopGracefully());

    // Stopped: a delivery waits for the next Start.
    Deliver(7);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(processor->Processed().size(), 2u);
    module->Start();
    EXPECT_TRUE(processor->WaitFor(3));
}

TEST_F(CommonModuleTest, GracefulStopsBeforeTheFirstStartDoNotSwallowTheFirstRequest) {
    EXPECT_TRUE(module->Stop(false));
    EXPECT_TRUE(module->Stop(false));
    module->Start();
    Deliver(7);
    EXPECT_TRUE(processor->WaitFor(1));
}

TEST_F(CommonModuleTest, ForcedStopAnswersTheTakenDeliveryAndCountsTheRest) {
    module->Start();
    Deliver(99);
    ASSERT_TRUE(processor->WaitBusy());
    Deliver(7);
    Deliver(7);
    Deliver(7);
    std::thread release([this] {
        std::this_thread::sleep_for(100ms);
        processor->Release();
    });
    EXPECT_TRUE(module->Stop(true));
    release.join();

    EXPECT_EQ(processor->Processed(), (std::vector<std::int32_t>{99}));
    const auto detail = LinesAt(1);
    ASSERT_EQ(detail.size(), 1u);
    EXPECT_EQ(detail[0].text, "There were 3 messages left unprocessed in a queue");

    // Stopped for good: neither Start nor new deliveries start a thread.
    module->Start();
    Deliver(7);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(processor->Processed().size(), 1u);
}

TEST_F(CommonModuleTest, FailuresInsideAProcessorAreLoggedAndProcessingGoesOn) {
    module->Start();
    Deliver(13);
    Deliver(14);
    Deliver(7);
    ASSERT_TRUE(processor->WaitFor(3));
    std::this_thread::sleep_for(50ms);
    const auto errors = LinesAt(4);
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0].text, "thirteen is unlucky");
    EXPECT_EQ(errors[1].text, "Unknown exception while processing a message");
}

TEST_F(CommonModuleTest, AnIdleThreadEndsAndTheNextDeliveryStartsAnother) {
    Initialize(200ms);
    module->Start();
    Deliver(7);
    ASSERT_TRUE(processor->WaitFor(1));
    std::this_thread::sleep_for(500ms);
    Deliver(7);
    ASSERT_TRUE(processor->WaitFor(2));
    EXPECT_NE(processor->threads[0], processor->threads[1]);
    EXPECT_TRUE(StopGracefully());
}

TEST_F(CommonModuleTest, StartAndStopActAsTheSystemUser) {
    Security::CUserContext::SetCurrent(std::make_shared<Security::CUserContext>());
    module->Start();
    auto context = Security::CUserContext::GetCurrent();
    EXPECT_EQ(context->GetUserUuid(), Security::CSystemUser::kUuid);
    module->Stop(false);
    EXPECT_EQ(Security::CUserContext::GetCurrent(), context);  // kept, not replaced
}

TEST(CommonModuleResources, AMissingResourceThrowsItsTextAndKeepsTheEarlierOnes) {
    struct Case {
        int missing;
        const char* text;
    };
    const Case cases[] = {
        {1, "Bad cast to Zent::Common::Kernel::IBusResource"},
        {3, "Bad cast to Zent::Common::Kernel::ILoggerResource"},
        {4, "Bad cast to Zent::Common::Kernel::IIdGeneratorResource"},
        {2, "Bad cast to Zent::Common::Kernel::IInstallConfigurationResource"},
        {11, "Bad cast to Zent::Common::Kernel::IConfigurationResource"},
    };
    for (const Case& c : cases) {
        auto provider = std::make_shared<CProvider>();
        provider->resources = {{1, std::make_shared<CRecordingBus>()},
                               {2, std::make_shared<CEmptyInstallConfiguration>()},
                               {3, std::make_shared<CRecordingLogger>()},
                               {4, std::make_shared<CNoIds>()},
                               {11, std::make_shared<CEmptyConfiguration>()}};
        provider->resources[c.missing] = std::make_shared<CNoIds>();  // of another type
        if (c.missing == 4) provider->resources.erase(4);
        CTestModule module(std::make_shared<CTestProcessor>());
        try {
            module.Initialize(provider);
            ADD_FAILURE() << "no exception for resource " << c.missing;
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), c.text);
        }
        EXPECT_EQ(module.GetLogger() != nullptr, c.missing != 1 && c.missing != 3);
    }
}

}  // namespace

#include "host/InProcessBus.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "common/security/UserContext.h"
#include "host/Logger.h"
#include "tests/host/TestMessage.h"

namespace Zent::HostTests {
namespace {

using Common::Kernel::IMessage;
using Common::Kernel::UserContextPtr;
using Common::Security::CUserContext;
using Host::CInProcessBus;

constexpr auto kPatience = std::chrono::seconds(10);

struct Received {
    std::shared_ptr<CTestMessage> message;
    UserContextPtr userContext;
    std::thread::id thread;
    bool onBusThread = false;
};

// Records what it receives; can hold deliveries back until its gate opens.
class CRecordingSubscriber : public Common::Kernel::ISubscriber {
public:
    explicit CRecordingSubscriber(const CInProcessBus* bus = nullptr, bool gateOpen = true)
        : bus_(bus), gateOpen_(gateOpen) {}

    void OnMessage(std::shared_ptr<IMessage> message, UserContextPtr userContext) override {
        std::unique_lock lock(lock_);
        ++entered_;
        changed_.notify_all();
        changed_.wait(lock, [this] { return gateOpen_; });
        received_.push_back({std::dynamic_pointer_cast<CTestMessage>(message),
                             std::move(userContext), std::this_thread::get_id(),
                             bus_ != nullptr && bus_->IsBusThread()});
        changed_.notify_all();
        if (throwOn_ == static_cast<int>(received_.size())) throw std::runtime_error("refused");
    }
    bool DescribeQueue(std::string& text) override {
        text.clear();
        return true;
    }

    void OpenGate() {
        std::lock_guard lock(lock_);
        gateOpen_ = true;
        changed_.notify_all();
    }
    void ThrowOnDelivery(int number) {
        std::lock_guard lock(lock_);
        throwOn_ = number;
    }
    bool WaitForEntered(int count) {
        std::unique_lock lock(lock_);
        return changed_.wait_for(lock, kPatience, [&] { return entered_ >= count; });
    }
    std::vector<Received> Get() {
        std::lock_guard lock(lock_);
        return received_;
    }

private:
    const CInProcessBus* const bus_;
    std::mutex lock_;
    std::condition_variable changed_;
    bool gateOpen_;
    int entered_ = 0;
    int throwOn_ = 0;
    std::vector<Received> received_;
};

std::vector<std::pair<int, int>> SenderAndSequence(const std::vector<Received>& received) {
    std::vector<std::pair<int, int>> result;
    for (const Received& item : received) {
        result.emplace_back(item.message->GetSender(), item.message->GetSequence());
    }
    return result;
}

TEST(InProcessBusTest, SendReturnsWhileTheSubscriberIsBusy) {
    CInProcessBus bus(2);
    auto subscriber = std::make_shared<CRecordingSubscriber>(&bus, false);
    bus.Subscribe(subscriber, 7);

    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(bus.Send(std::make_shared<CTestMessage>(7, 0, i), nullptr));
    }
    ASSERT_TRUE(subscriber->WaitForEntered(1));
    EXPECT_TRUE(subscriber->Get().empty());

    subscriber->OpenGate();
    ASSERT_TRUE(bus.WaitUntilIdle(kPatience));
    EXPECT_EQ(subscriber->Get().size(), 3u);
    EXPECT_EQ(bus.GetSentCount(), 3u);
    EXPECT_EQ(bus.GetDeliveredCount(), 3u);
}

TEST(InProcessBusTest, AFullLaneRefusesTheWholeMessageUntilItDrains) {
    CInProcessBus bus(2, nullptr, 2);
    auto slow = std::make_shared<CRecordingSubscriber>(&bus, false);
    auto quick = std::make_shared<CRecordingSubscriber>(&bus);
    bus.Subscribe(slow, 7);
    bus.Subscribe(quick, 7);
    // Each message leaves the quick lane before the next is sent; the slow subscriber holds
    // the first at its gate, so the next two fill its lane.
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(bus.Send(std::make_shared<CTestMessage>(7, 0, i), nullptr));
        ASSERT_TRUE(quick->WaitForEntered(i + 1));
    }
    ASSERT_TRUE(slow->WaitForEntered(1));
    EXPECT_FALSE(bus.Send(std::make_shared<CTestMessage>(7, 0, 3), nullptr));

    slow->OpenGate();
    ASSERT_TRUE(bus.WaitUntilIdle(kPatience));
    EXPECT_TRUE(bus.Send(std::make_shared<CTestMessage>(7, 0, 4), nullptr));
    ASSERT_TRUE(bus.WaitUntilIdle(kPatience));
    const std::vector<std::pair<int, int>> expected = {{0, 0}, {0, 1}, {0, 2}, {0, 4}};
    EXPECT_EQ(SenderAndSequence(slow->Get()), expected);
    EXPECT_EQ(SenderAndSequence(quick->Get()), expected);  // nor did the lane with room
    EXPECT_EQ(bus.GetSentCount(), 4u);
}

TEST(InProcessBusTest, DeliversOnBusThreadsOnly) {
    CInProcessBus bus(3);
    auto subscriber = std::make_shared<CRecordingSubscriber>(&bus);
    bus.Subscribe(subscriber, 7);
    EXPECT_FALSE(bus.IsBusThread());

    for (int i = 0; i < 50; ++i)
        bus.Send(std::make_shared<CTestMessage>(7, 0, i), nullptr);
    ASSERT_TRUE(bus.WaitUntilIdle(kPatience));

    const std::vector<Received> received = subscriber->Get();
    ASSERT_EQ(received.size(), 50u);
    for (const Received& item : received) {
        EXPECT_NE(item.thread, std::this_thread::get_id());
        EXPECT_TRUE(item.onBusThread);
    }
}

TEST(InProcessBusTest, SingleSenderOrderHoldsAcrossTypes) {
    CInProcessBus bus(4);
    auto both = std::make_shared<CRecordingSubscriber>();
    auto odd = std::make_shared<CRecordingSubscriber>();
    bus.Subscribe(both, 1);
    bus.Subscribe(both, 2);
    bus.Subscribe(odd, 1);

    constexpr int kCount = 1000;
    for (int i = 0; i < kCount; ++i) {
        bus.Send(std::make_shared<CTestMessage>(i % 2 == 0 ? 2 : 1, 0, i), nullptr);
    }
    ASSERT_TRUE(bus.WaitUntilIdle(kPatience));

    const std::vector<Received> all = both->Get();
    ASSERT_EQ(all.size(), static_cast<std::size_t>(kCount));
    for (int i = 0; i < kCount; ++i)
        EXPECT_EQ(all[i].message->GetSequence(), i);
    const std::vector<Received> odds = odd->Get();
    ASSERT_EQ(odds.size(), static_cast<std::size_t>(kCount / 2));
    for (int i = 0; i < kCount / 2; ++i)
        EXPECT_EQ(odds[i].message->GetSequence(), 2 * i + 1);
}

TEST(InProcessBusTest, ConcurrentSendersKeepEachSendersOrderForEverySubscriber) {
    CInProcessBus bus(3);
    std::vector<std::shared_ptr<CRecordingSubscriber>> subscribers;
    for (int i = 0; i < 3; ++i) {
        subscribers.push_back(std::make_shared<CRecordingSubscriber>());
        bus.Subscribe(subscribers.back(), 5);
    }
    std::mutex observedLock;
    std::vector<std::pair<int, int>> observed;
    bus.AddObserver([&](const std::shared_ptr<IMessage>& message, const UserContextPtr&) {
        const auto test = std::dynamic_pointer_cast<CTestMessage>(message);
        std::lock_guard lock(observedLock);
        observed.emplace_back(test->GetSender(), test->GetSequence());
    });

    constexpr int kSenders = 4;
    constexpr int kPerSender = 400;
    std::vector<std::thread> senders;
    std::atomic<int> refused{0};
    for (int sender = 0; sender < kSenders; ++sender) {
        senders.emplace_back([&bus, &refused, sender] {
            for (int i = 0; i < kPerSender; ++i) {
                if (!bus.Send(std::make_shared<CTestMessage>(5, sender, i), nullptr)) ++refused;
            }
        });
    }
    for (std::thread& sender : senders)
        sender.join();
    ASSERT_TRUE(bus.WaitUntilIdle(kPatience));
    EXPECT_EQ(refused, 0);

    const std::vector<std::pair<int, int>> first = SenderAndSequence(subscribers[0]->Get());
    ASSERT_EQ(first.size(), static_cast<std::size_t>(kSenders * kPerSender));
    std::map<int, int> next;
    for (const auto& [sender, sequence] : first) {
        EXPECT_EQ(sequence, next[sender]) << "sender " << sender;
        next[sender] = sequence + 1;
    }
    // Send calls are ordered once: every subscriber and the observer see that one order.
    EXPECT_EQ(SenderAndSequence(subscribers[1]->Get()), first);
    EXPECT_EQ(SenderAndSequence(subscribers[2]->Get()), first);
    std::lock_guard lock(observedLock);
    EXPECT_EQ(observed, first);
}

TEST(InProcessBusTest, ContextArrivesUnchangedAndNullBecomesEmptyContext) {
    CInProcessBus bus;
    auto subscriber = std::make_shared<CRecordingSubscriber>();
    bus.Subscribe(subscriber, 3);
    std::vector<UserContextPtr> observed;
    bus.AddObserver(
        [&observed](const auto&, const UserContextPtr& context) { observed.push_back(context); });

    const auto context = std::make_shared<CUserContext>();
    bus.Send(std::make_shared<CTestMessage>(3, 0, 0), context);
    bus.Send(std::make_shared<CTestMessage>(3, 0, 1), nullptr);
    ASSERT_TRUE(bus.WaitUntilIdle(kPatience));

    const std::vector<Received> received = subscriber->Get();
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[0].userContext, context);
    ASSERT_NE(received[1].userContext, nullptr);
    EXPECT_NE(received[1].userContext, context);
    EXPECT_EQ(received[1].userContext->GetUser(), nullptr);
    ASSERT_EQ(observed.size(), 2u);
    EXPECT_EQ(observed[0], context);
    EXPECT_EQ(observed[1], received[1].userContext);
}

TEST(InProcessBusTest, ObserverSeesMessagesNobodySubscribedTo) {
    CInProcessBus bus;
    std::vector<int> observed;
    bus.AddObserver([&observed](const std::shared_ptr<IMessage>& message, const auto&) {
        observed.push_back(message->GetType());
    });

    EXPECT_TRUE(bus.Send(std::make_shared<CTestMessage>(11, 0, 0), nullptr));
    EXPECT_TRUE(bus.Send(std::make_shared<CTestMessage>(12, 0, 1), nullptr));
    EXPECT_FALSE(bus.Send(nullptr, nullptr));
    ASSERT_TRUE(bus.WaitUntilIdle(kPatience));

    EXPECT_EQ(observed, (std::vector<int>{11, 12}));
    EXPECT_EQ(bus.GetSentCount(), 2u);
    EXPECT_EQ(bus.GetDeliveredCount(), 0u);
}

TEST(InProcessBusTest, SubscribingTwiceDeliversOnce) {
    CInProcessBus bus;
    auto subscriber = std::make_shared<CRecordingSubscriber>();
    bus.Subscribe(subscriber, 4);
    bus.Subscribe(subscriber, 4);
    bus.Subscribe(nullptr, 4);

    bus.Send(std::make_shared<CTestMessage>(4, 0, 0), nullptr);
    ASSERT_TRUE(bus.WaitUntilIdle(kPatience));
    EXPECT_EQ(subscriber->Get().size(), 1u);
}

TEST(InProcessBusTest, FailingSubscriberIsLoggedAndLaterDeliveriesGoOn) {
    std::vector<std::string> lines;
    auto logger = std::make_shared<Host::CLogger>(
        1, [&lines](const Host::LogRecord& record) { lines.push_back(record.text); });
    CInProcessBus bus(2, logger);
    auto subscriber = std::make_shared<CRecordingSubscriber>();
    subscriber->ThrowOnDelivery(1);
    bus.Subscribe(subscriber, 6);
    bus.AddObserver([](const auto&, const auto&) { throw 42; });

    bus.Send(std::make_shared<CTestMessage>(6, 0, 0), nullptr);
    bus.Send(std::make_shared<CTestMessage>(6, 0, 1), nullptr);
    ASSERT_TRUE(bus.WaitUntilIdle(kPatience));
    bus.Stop();

    EXPECT_EQ(subscriber->Get().size(), 2u);
    EXPECT_EQ(bus.GetDeliveredCount(), 2u);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Delivery of TestMessage6 failed: refused"),
              1);
    EXPECT_EQ(std::count(lines.begin(), lines.end(),
                         "Delivery of TestMessage6 failed: an exception of unknown type"),
              2);
}

TEST(InProcessBusTest, StopDeliversWhatIsQueuedAndRefusesLaterSends) {
    auto bus = std::make_unique<CInProcessBus>(2);
    auto subscriber = std::make_shared<CRecordingSubscriber>(bus.get(), false);
    bus->Subscribe(subscriber, 8);
    for (int i = 0; i < 20; ++i)
        bus->Send(std::make_shared<CTestMessage>(8, 0, i), nullptr);
    ASSERT_TRUE(subscriber->WaitForEntered(1));

    auto stopped = std::async(std::launch::async, [&bus] { bus->Stop(); });
    subscriber->OpenGate();
    stopped.get();

    EXPECT_EQ(subscriber->Get().size(), 20u);
    EXPECT_EQ(bus->GetDeliveredCount(), 20u);
    EXPECT_FALSE(bus->Send(std::make_shared<CTestMessage>(8, 0, 20), nullptr));
    EXPECT_EQ(bus->GetSentCount(), 20u);
    bus->Stop();
    bus.reset();
    EXPECT_EQ(subscriber.use_count(), 1);
}

TEST(InProcessBusTest, UnsubscribeAllDropsQueuedDeliveriesAndWaitsForTheRunningOne) {
    CInProcessBus bus(2);
    auto subscriber = std::make_shared<CRecordingSubscriber>(&bus, false);
    bus.Subscribe(subscriber, 9);
    for (int i = 0; i < 3; ++i)
        bus.Send(std::make_shared<CTestMessage>(9, 0, i), nullptr);
    ASSERT_TRUE(subscriber->WaitForEntered(1));

    auto unsubscribed = std::async(std::launch::async, [&bus, &subscriber] {
        const std::size_t dropped = bus.UnsubscribeAll();
        return std::make_pair(dropped, subscriber->Get().size());
    });
    while (bus.GetDroppedCount() < 2)
        std::this_thread::yield();
    subscriber->OpenGate();
    const auto [dropped, deliveredBeforeReturn] = unsubscribed.get();

    EXPECT_EQ(dropped, 2u);
    EXPECT_EQ(deliveredBeforeReturn, 1u);
    EXPECT_EQ(subscriber.use_count(), 1);
    bus.Send(std::make_shared<CTestMessage>(9, 0, 3), nullptr);
    ASSERT_TRUE(bus.WaitUntilIdle(kPatience));
    EXPECT_EQ(subscriber->Get().size(), 1u);
}

TEST(InProcessBusTest, WaitingOperationsRefuseBusThreads) {
    CInProcessBus bus;
    std::promise<std::string> refusal;
    bus.AddObserver([&bus, &refusal](const auto&, const auto&) {
        try {
            bus.Stop();
            refusal.set_value("");
        } catch (const std::logic_error& error) {
            refusal.set_value(error.what());
        }
    });
    bus.Send(std::make_shared<CTestMessage>(1, 0, 0), nullptr);
    EXPECT_EQ(refusal.get_future().get(), "CInProcessBus::Stop called from one of its own threads");
}

}  // namespace
}  // namespace Zent::HostTests

#include "host/InProcessBus.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <map>
#include <mutex>
#include <semaphore>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "common/security/UserContext.h"
#include "tests/support/NamedUser.h"
#include "tests/support/RecordingLogger.h"
#include "tests/support/TextMessage.h"

namespace Zent::HostTests {
namespace {

using Common::Kernel::IMessage;
using Common::Kernel::UserContextPtr;
using Host::CInProcessBus;
using Testing::CTextMessage;
using Strings = std::vector<std::string>;

constexpr auto kPatience = std::chrono::seconds(10);
constexpr std::int32_t kType = CTextMessage::kType;
constexpr std::int32_t kOtherType = CTextMessage::kType + 1;

std::shared_ptr<IMessage> Text(const std::string& text, std::int32_t type = kType) {
    return std::make_shared<CTextMessage>(text, std::nullopt, type);
}
std::string TextOf(const std::shared_ptr<IMessage>& message) {
    return dynamic_cast<const CTextMessage&>(*message).Text();
}

struct Received {
    std::string text;
    UserContextPtr context;
    bool onBusThread;
};

// Records what it receives; holds deliveries at its gate until the gate opens. A delivery on
// a thread that is not a bus thread is recorded but never held: a bus that delivered on the
// sender's thread fails the test at once instead of blocking the sender for good.
class CRecordingSubscriber : public Common::Kernel::ISubscriber {
public:
    explicit CRecordingSubscriber(const CInProcessBus& bus, bool gateOpen = true) : bus_(bus) {
        if (gateOpen) OpenGate();
    }
    void OnMessage(std::shared_ptr<IMessage> message, UserContextPtr context) override {
        const bool onBusThread = bus_.IsBusThread();
        entered_.release();
        if (onBusThread) gate_.wait();
        std::lock_guard lock(lock_);
        received_.push_back({TextOf(message), std::move(context), onBusThread});
        if (received_.size() == throwOn) throw 42;
    }
    bool DescribeQueue(std::string& text) override {
        text.clear();
        return true;
    }
    void OpenGate() { open_.set_value(); }
    // Waits for the next call of OnMessage to begin.
    bool WaitForEntered() { return entered_.try_acquire_for(kPatience); }
    std::vector<Received> Get() {
        std::lock_guard lock(lock_);
        return received_;
    }
    Strings Texts() {
        Strings texts;
        for (const Received& item : Get())
            texts.push_back(item.text);
        return texts;
    }

    std::size_t throwOn = 0;  // the delivery (counted from 1) that throws; set before sending

private:
    const CInProcessBus& bus_;
    std::promise<void> open_;
    const std::shared_future<void> gate_ = open_.get_future().share();
    std::counting_semaphore<> entered_{0};
    std::mutex lock_;
    std::vector<Received> received_;
};

// A bus whose one subscriber holds the first of `count` sent messages at its gate.
class GatedBusTest : public testing::Test {
protected:
    void Queue(int count) {
        bus->Subscribe(subscriber, kType);
        for (int i = 0; i < count; ++i)
            EXPECT_TRUE(bus->Send(Text(std::to_string(i)), nullptr));
        ASSERT_TRUE(subscriber->WaitForEntered());
        ASSERT_TRUE(subscriber->Get().empty());  // every Send returned while it waits
    }

    std::unique_ptr<CInProcessBus> bus = std::make_unique<CInProcessBus>(2);
    std::shared_ptr<CRecordingSubscriber> subscriber =
        std::make_shared<CRecordingSubscriber>(*bus, false);
};

TEST_F(GatedBusTest, StopDeliversWhatIsQueuedOnBusThreadsAndRefusesLaterSends) {
    EXPECT_FALSE(bus->IsBusThread());
    ASSERT_NO_FATAL_FAILURE(Queue(20));
    auto stopped = std::async(std::launch::async, [this] { bus->Stop(); });
    subscriber->OpenGate();
    stopped.get();
    ASSERT_EQ(subscriber->Get().size(), 20u);
    for (const Received& item : subscriber->Get())
        EXPECT_TRUE(item.onBusThread) << item.text;
    EXPECT_FALSE(bus->Send(Text("20"), nullptr));
    EXPECT_EQ(bus->GetSentCount(), 20u);
    bus.reset();
    EXPECT_EQ(subscriber.use_count(), 1);
}

TEST_F(GatedBusTest, UnsubscribeAllDropsQueuedDeliveriesAndWaitsForTheRunningOne) {
    ASSERT_NO_FATAL_FAILURE(Queue(3));
    auto unsubscribed = std::async(std::launch::async, [this] {
        const std::size_t dropped = bus->UnsubscribeAll();
        return std::make_pair(dropped, subscriber->Get().size());
    });
    while (bus->GetDroppedCount() < 2)
        std::this_thread::yield();
    subscriber->OpenGate();
    EXPECT_EQ(unsubscribed.get(), std::make_pair(std::size_t{2}, std::size_t{1}));
    EXPECT_EQ(subscriber.use_count(), 1);
    bus->Send(Text("3"), nullptr);
    ASSERT_TRUE(bus->WaitUntilIdle(kPatience));
    EXPECT_EQ(subscriber->Get().size(), 1u);
}

TEST(InProcessBusTest, SubscriberAndObserverSeeOneOrderWithTheSendersContexts) {
    CInProcessBus bus(3);
    auto subscriber = std::make_shared<CRecordingSubscriber>(bus);
    for (std::int32_t type : {kType, kOtherType, kType})  // subscribed twice: served once
        bus.Subscribe(subscriber, type);
    std::vector<std::pair<std::string, UserContextPtr>> observed;
    bus.AddObserver([&observed](const auto& message, const UserContextPtr& context) {
        observed.emplace_back(TextOf(message), context);
    });
    EXPECT_TRUE(bus.Send(Text("nobody's", kOtherType + 1), nullptr));  // observed only
    EXPECT_FALSE(bus.Send(nullptr, nullptr));
    // Sender 0 sends as alice, the others with no context.
    const auto alice = std::make_shared<Common::Security::CUserContext>(
        std::make_shared<Testing::CNamedUser>("alice"));
    std::atomic<int> refused{0};
    {
        std::vector<std::jthread> senders;
        for (int sender = 0; sender < 4; ++sender) {
            senders.emplace_back([&, sender] {
                for (int i = 0; i < 400; ++i) {
                    const auto text = std::to_string(sender) + ":" + std::to_string(i);
                    if (!bus.Send(Text(text, i % 2 ? kOtherType : kType), sender ? nullptr : alice))
                        ++refused;
                }
            });
        }
    }
    ASSERT_TRUE(bus.WaitUntilIdle(kPatience));
    EXPECT_EQ(refused, 0);

    std::vector<std::pair<std::string, UserContextPtr>> order;
    std::map<std::string, int> next;
    for (const Received& item : subscriber->Get()) {
        order.emplace_back(item.text, item.context);
        const auto colon = item.text.find(':');
        const std::string sender = item.text.substr(0, colon);
        EXPECT_EQ(std::stoi(item.text.substr(colon + 1)), next[sender]++) << item.text;
        ASSERT_NE(item.context, nullptr);  // a null context becomes an empty one
        EXPECT_EQ(sender == "0" ? alice->GetUser() : nullptr, item.context->GetUser());
    }
    ASSERT_EQ(order.size(), 1600u);
    EXPECT_EQ(observed.front().first, "nobody's");
    observed.erase(observed.begin());
    EXPECT_EQ(observed, order);  // the same context objects too
}

TEST(InProcessBusTest, AFullLaneRefusesTheWholeMessageUntilItDrains) {
    CInProcessBus bus(2, nullptr, 2);
    auto slow = std::make_shared<CRecordingSubscriber>(bus, false);
    auto quick = std::make_shared<CRecordingSubscriber>(bus);
    bus.Subscribe(slow, kType);
    bus.Subscribe(quick, kType);
    // Each message leaves the quick lane before the next is sent; the slow subscriber holds
    // the first at its gate, so the next two fill its lane.
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(bus.Send(Text(std::to_string(i)), nullptr));
        ASSERT_TRUE(quick->WaitForEntered());
    }
    ASSERT_TRUE(slow->WaitForEntered());
    EXPECT_FALSE(bus.Send(Text("3"), nullptr));
    slow->OpenGate();
    ASSERT_TRUE(bus.WaitUntilIdle(kPatience));
    EXPECT_TRUE(bus.Send(Text("4"), nullptr));
    ASSERT_TRUE(bus.WaitUntilIdle(kPatience));
    EXPECT_EQ(slow->Texts(), (Strings{"0", "1", "2", "4"}));
    EXPECT_EQ(quick->Texts(), slow->Texts());  // nor did the lane with room take it
    EXPECT_EQ(bus.GetSentCount(), 4u);
}

TEST(InProcessBusTest, FailuresOfSubscribersAndObserversAreLoggedAndDeliveryGoesOn) {
    auto logger = std::make_shared<Testing::CRecordingLogger>();
    CInProcessBus bus(2, logger);
    auto subscriber = std::make_shared<CRecordingSubscriber>(bus);
    subscriber->throwOn = 1;
    bus.Subscribe(subscriber, kType);
    // Waiting operations refuse bus threads, which would wait for themselves.
    bus.AddObserver([&bus](const auto&, const auto&) { bus.Stop(); });
    bus.Send(Text("0"), nullptr);
    bus.Send(Text("1"), nullptr);
    ASSERT_TRUE(bus.WaitUntilIdle(kPatience));
    EXPECT_EQ(bus.GetDeliveredCount(), 2u);
    Strings lines;  // the two lanes fail on two threads, in either order
    for (const auto& line : logger->Lines())
        lines.push_back(line.text);
    std::sort(lines.begin(), lines.end());
    const std::string refused = " failed: CInProcessBus::Stop called from one of its own threads";
    EXPECT_EQ(lines, (Strings{"Delivery of Text:0" + refused,
                              "Delivery of Text:0 failed: an exception of unknown type",
                              "Delivery of Text:1" + refused}));
}

}  // namespace
}  // namespace Zent::HostTests

#pragma once

// The substitute kernel's message bus: delivers each sent message to the subscribers of its
// type number, on a small pool of bus threads, and shows every sent message to observers.
//
//     auto bus = std::make_shared<CInProcessBus>();
//     bus->AddObserver([](const auto& message, const auto& context) { ... });
//     bus->Subscribe(subscriber, CRegisterTimeEvent::kType);
//     bus->Send(request, userContext);   // returns at once; OnMessage runs on a bus thread
//     bus->WaitUntilIdle(std::chrono::seconds(5));
//     bus->Stop();
//
// Delivery guarantees:
// - Send only queues: it never calls a subscriber or an observer, never waits for one and
//   never throws. It may be called from several threads at once. Deliveries run on bus
//   threads only, so never on a sender's thread unless the sender is itself a bus thread
//   (an observer or OnMessage that sends), and then never within its Send call.
// - Each lane (one per subscriber, one for all observers) holds at most its capacity of
//   waiting deliveries: a message that would overfill any of its lanes is refused as a
//   whole (Send returns false), so a sender faster than its receiver cannot make the bus
//   grow without bound.
// - Each subscriber receives its messages one at a time, in the order of the Send calls
//   (Send calls are ordered by the moment they take the bus's lock). Different subscribers
//   may be served at the same time by different bus threads.
// - A subscriber subscribed twice to the same type receives each message of it once.
// - The user context arrives unchanged; a null one is replaced by a new empty CUserContext,
//   the same object for subscribers and observers of that message.
// - Observers see every message accepted while they are registered, in Send order, one
//   message at a time, on a bus thread.
// - An exception that leaves OnMessage or an observer is logged at level 4 (when the bus
//   has a logger) and delivery goes on.
// The bus keeps a reference to each subscriber until UnsubscribeAll or destruction. It must
// not be destroyed on one of its own threads (an observer holding its last reference).

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include <boost/thread/thread.hpp>

#include "common/kernel/IBusResource.h"
#include "common/kernel/ILoggerResource.h"

namespace Zent::Host {

class CInProcessBus : public Common::Kernel::IBusResource {
public:
    using Observer = std::function<void(const std::shared_ptr<Common::Kernel::IMessage>&,
                                        const Common::Kernel::UserContextPtr&)>;

    static constexpr std::size_t kDefaultThreadCount = 2;
    static constexpr std::size_t kDefaultLaneCapacity = 1000000;

    // Starts `threadCount` bus threads (at least one). `logger` receives delivery failures.
    // `laneCapacity` (at least one) bounds the deliveries waiting in each lane.
    explicit CInProcessBus(std::size_t threadCount = kDefaultThreadCount,
                           std::shared_ptr<Common::Kernel::ILoggerResource> logger = {},
                           std::size_t laneCapacity = kDefaultLaneCapacity);
    // Stops the bus.
    ~CInProcessBus() override;
    CInProcessBus(const CInProcessBus&) = delete;
    CInProcessBus& operator=(const CInProcessBus&) = delete;

    // A null subscriber is ignored.
    void Subscribe(std::shared_ptr<Common::Kernel::ISubscriber> subscriber,
                   std::int32_t type) override;
    // Queues `message` for its subscribers and the observers. False for a null message,
    // after Stop, and when one of its lanes is full (then nobody receives it); true
    // otherwise, also when nobody receives the message.
    bool Send(std::shared_ptr<Common::Kernel::IMessage> message,
              Common::Kernel::UserContextPtr userContext) override;

    void AddObserver(Observer observer);

    // Ends every subscription: deliveries still queued for subscribers are dropped, and the
    // call returns once no OnMessage call is running any more. Observers stay. Returns the
    // number of dropped deliveries. Not to be called from a bus thread (std::logic_error).
    std::size_t UnsubscribeAll();

    // Waits until nothing is queued or being delivered; false when `timeout` passed first.
    // Not to be called from a bus thread (std::logic_error).
    bool WaitUntilIdle(std::chrono::steady_clock::duration timeout);

    // Refuses further Send calls, delivers what is queued, and joins the bus threads. A
    // subscriber or observer that never returns keeps Stop waiting. Later calls do nothing.
    // Not to be called from a bus thread (std::logic_error).
    void Stop();

    // True on the bus threads of this bus.
    bool IsBusThread() const;

    // Messages accepted by Send.
    std::uint64_t GetSentCount() const;
    // OnMessage calls made, including those that threw.
    std::uint64_t GetDeliveredCount() const;
    // Deliveries to subscribers dropped by UnsubscribeAll.
    std::uint64_t GetDroppedCount() const;

private:
    struct Delivery {
        std::shared_ptr<Common::Kernel::IMessage> message;
        Common::Kernel::UserContextPtr userContext;
    };
    // The deliveries of one subscriber, or of all observers; served by one thread at a time.
    struct Lane {
        std::shared_ptr<Common::Kernel::ISubscriber> subscriber;  // null: the observers' lane
        std::deque<Delivery> pending;
        bool scheduled = false;  // waiting in ready_ or being served
        bool running = false;    // being served
    };

    void Work();
    void Deliver(const Lane& lane, const Delivery& delivery);
    void Enqueue(const std::shared_ptr<Lane>& lane, const Delivery& delivery);
    void ReportFailure(const Delivery& delivery, const char* what) const;
    void RefuseBusThread(const char* operation) const;

    const std::shared_ptr<Common::Kernel::ILoggerResource> logger_;
    const std::size_t laneCapacity_;

    mutable std::mutex lock_;
    std::condition_variable workAvailable_;
    std::condition_variable deliveryEnded_;
    std::map<Common::Kernel::ISubscriber*, std::shared_ptr<Lane>> lanes_;
    std::map<std::int32_t, std::vector<std::shared_ptr<Lane>>> subscriptions_;
    const std::shared_ptr<Lane> observerLane_;
    std::vector<std::shared_ptr<const Observer>> observers_;
    std::deque<std::shared_ptr<Lane>> ready_;
    std::size_t running_ = 0;
    bool stopping_ = false;
    std::uint64_t sent_ = 0;
    std::uint64_t delivered_ = 0;
    std::uint64_t dropped_ = 0;

    std::mutex stopLock_;
    std::vector<boost::thread> threads_;
};

}  // namespace Zent::Host

#pragma once

// The queue between the bus and one message processor.
//
// The kernel calls OnMessage on its own threads; the subscriber only queues there and,
// when no processing thread runs, asks for one through its consumer-needed callable. The
// processing thread takes deliveries in arrival order and gives up after 5 seconds
// without one.
//
//     auto subscriber = std::make_shared<CSubscriber>("SchedulerModule", startThread);
//     bus->Subscribe(subscriber, CRegisterTimeEvent::kType);
//     // processing thread:
//     CSubscriber::Delivery delivery;
//     while (subscriber->TakeDelivery(delivery)) processor->Process(delivery.message);
//
// Every operation is thread-safe; the consumer-needed callable is never called with the
// subscriber's lock held.

#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <string>

#include <boost/chrono/duration.hpp>
#include <boost/thread/condition_variable.hpp>
#include <boost/thread/mutex.hpp>

#include "common/kernel/ISubscriber.h"

namespace Zent::Common::Module {

class CSubscriber : public Kernel::ISubscriber {
public:
    struct Delivery {
        std::shared_ptr<Kernel::IMessage> message;
        Kernel::UserContextPtr userContext;
    };

    // The time a processing thread waits for a delivery before it ends.
    static constexpr std::chrono::seconds kIdleTimeout{5};

    CSubscriber(std::string name, std::function<void()> consumerNeeded,
                std::chrono::steady_clock::duration idleTimeout = kIdleTimeout);

    // Queues a delivery; starts a processing thread when this call ends the idle state.
    void OnMessage(std::shared_ptr<Kernel::IMessage> message,
                   Kernel::UserContextPtr userContext) override;
    bool DescribeQueue(std::string& text) override;
    void ForEachQueued(const Visitor& visitor) override;

    // Processing thread: the oldest delivery (true), or false when the thread is to end
    // (a stop request, or the idle timeout with nothing queued). Interruptible while it
    // waits.
    bool TakeDelivery(Delivery& delivery);
    // Processing thread: it ends because it was interrupted.
    void ConsumerInterrupted();

    // Makes sure queued deliveries get a processing thread; with nothing queued, the next
    // delivery starts one.
    void Resume();

    // Called by the thread starter before it starts a processing thread.
    void ConsumerStarting();

    // Graceful stop. Busy (something queued or being processed): returns false and changes
    // nothing. Otherwise asks a waiting processing thread to end, or, when none runs,
    // makes sure no later delivery starts one, and returns true.
    bool RequestStop();

    std::size_t QueuedCount() const;
    const std::string& GetName() const { return name_; }

private:
    const std::string name_;
    const boost::chrono::nanoseconds idleTimeout_;
    mutable boost::mutex lock_;
    boost::condition_variable wakeUp_;
    std::deque<Delivery> queue_;
    bool stopRequest_ = false;
    bool consumerWaiting_ = true;  // false only while a delivery is being processed
    bool consumerAlive_ = false;   // a processing thread runs and has not decided to end
    bool idle_ = false;
    std::function<void()> consumerNeeded_;
};

}  // namespace Zent::Common::Module

#include "common/module/Subscriber.h"

#include <boost/thread/thread.hpp>

namespace Zent::Common::Module {

CSubscriber::CSubscriber(std::string name, std::function<void()> consumerNeeded,
                         std::chrono::steady_clock::duration idleTimeout)
    : name_(std::move(name)),
      idleTimeout_(std::chrono::duration_cast<std::chrono::nanoseconds>(idleTimeout).count()),
      consumerNeeded_(std::move(consumerNeeded)) {}

void CSubscriber::OnMessage(std::shared_ptr<Kernel::IMessage> message,
                            Kernel::UserContextPtr userContext) {
    boost::unique_lock lock(lock_);
    queue_.push_back({std::move(message), std::move(userContext)});
    wakeUp_.notify_one();
    if (!idle_) return;
    idle_ = false;
    if (!consumerNeeded_) return;
    lock.unlock();
    consumerNeeded_();
}

bool CSubscriber::DescribeQueue(std::string& text) {
    boost::lock_guard lock(lock_);
    text.clear();
    if (queue_.empty()) return true;
    text = name_ + ":";
    for (std::size_t i = 0; i < queue_.size(); ++i) {
        if (i != 0) text += ",";
        text += queue_[i].message ? queue_[i].message->GetTypeName() : std::string();
    }
    return false;
}

void CSubscriber::ForEachQueued(const Visitor& visitor) {
    boost::lock_guard lock(lock_);
    for (const Delivery& delivery : queue_)
        visitor(delivery.message, delivery.userContext);
}

bool CSubscriber::TakeDelivery(Delivery& delivery) {
    boost::unique_lock lock(lock_);
    consumerWaiting_ = true;
    auto end = [this] {
        stopRequest_ = false;
        consumerAlive_ = false;
        return false;
    };
    if (stopRequest_) return end();
    while (queue_.empty()) {
        const auto deadline = boost::chrono::steady_clock::now() + idleTimeout_;
        const bool timedOut = wakeUp_.wait_until(lock, deadline) == boost::cv_status::timeout;
        if (stopRequest_) return end();
        if (timedOut && queue_.empty()) {
            idle_ = true;
            return end();
        }
    }
    consumerWaiting_ = false;
    delivery = std::move(queue_.front());
    queue_.pop_front();
    return true;
}

void CSubscriber::Resume() {
    boost::unique_lock lock(lock_);
    if (queue_.empty()) {
        idle_ = true;
        return;
    }
    idle_ = false;
    if (!consumerNeeded_) return;
    lock.unlock();
    consumerNeeded_();
}

void CSubscriber::ConsumerStarting() {
    boost::lock_guard lock(lock_);
    stopRequest_ = false;  // a request meant for an earlier thread
    consumerAlive_ = true;
}

void CSubscriber::ConsumerInterrupted() {
    boost::lock_guard lock(lock_);
    consumerWaiting_ = true;
    consumerAlive_ = false;
}

bool CSubscriber::RequestStop() {
    boost::lock_guard lock(lock_);
    if (!queue_.empty() || !consumerWaiting_) return false;
    if (consumerAlive_) {
        stopRequest_ = true;
        wakeUp_.notify_all();
    } else {
        idle_ = false;
    }
    return true;
}

std::size_t CSubscriber::QueuedCount() const {
    boost::lock_guard lock(lock_);
    return queue_.size();
}

}  // namespace Zent::Common::Module

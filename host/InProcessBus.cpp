#include "host/InProcessBus.h"

#include <algorithm>
#include <exception>
#include <stdexcept>
#include <string>

#include "common/security/UserContext.h"

namespace Zent::Host {

namespace Kernel = Common::Kernel;

namespace {
// The bus whose thread this is; null on other threads.
thread_local const CInProcessBus* currentBus = nullptr;
}  // namespace

CInProcessBus::CInProcessBus(std::size_t threadCount,
                             std::shared_ptr<Kernel::ILoggerResource> logger,
                             std::size_t laneCapacity)
    : logger_(std::move(logger)),
      laneCapacity_(std::max<std::size_t>(laneCapacity, 1)),
      observerLane_(std::make_shared<Lane>()) {
    try {
        for (std::size_t i = 0; i < std::max<std::size_t>(threadCount, 1); ++i) {
            threads_.emplace_back([this] { Work(); });
        }
    } catch (...) {
        Stop();
        throw;
    }
}

CInProcessBus::~CInProcessBus() {
    Stop();
}

void CInProcessBus::Subscribe(std::shared_ptr<Kernel::ISubscriber> subscriber, std::int32_t type) {
    if (!subscriber) return;
    std::lock_guard lock(lock_);
    std::shared_ptr<Lane>& lane = lanes_[subscriber.get()];
    if (!lane) {
        lane = std::make_shared<Lane>();
        lane->subscriber = std::move(subscriber);
    }
    std::vector<std::shared_ptr<Lane>>& subscribed = subscriptions_[type];
    if (std::find(subscribed.begin(), subscribed.end(), lane) == subscribed.end()) {
        subscribed.push_back(lane);
    }
}

bool CInProcessBus::Send(std::shared_ptr<Kernel::IMessage> message,
                         Kernel::UserContextPtr userContext) {
    try {
        if (!message) return false;
        if (!userContext) userContext = std::make_shared<Common::Security::CUserContext>();
        const std::int32_t type = message->GetType();
        const Delivery delivery{std::move(message), std::move(userContext)};

        std::lock_guard lock(lock_);
        if (stopping_) return false;
        const auto found = subscriptions_.find(type);
        const std::vector<std::shared_ptr<Lane>>* const subscribed =
            found == subscriptions_.end() ? nullptr : &found->second;
        const auto full = [this](const std::shared_ptr<Lane>& lane) {
            return lane->pending.size() >= laneCapacity_;
        };
        // All or nobody: a full lane refuses the message before any lane takes it.
        if ((subscribed && std::any_of(subscribed->begin(), subscribed->end(), full)) ||
            (!observers_.empty() && full(observerLane_))) {
            return false;
        }
        ++sent_;
        if (subscribed) {
            for (const std::shared_ptr<Lane>& lane : *subscribed)
                Enqueue(lane, delivery);
        }
        if (!observers_.empty()) Enqueue(observerLane_, delivery);
        return true;
    } catch (...) {
        return false;
    }
}

void CInProcessBus::AddObserver(Observer observer) {
    if (!observer) return;
    auto shared = std::make_shared<const Observer>(std::move(observer));
    std::lock_guard lock(lock_);
    observers_.push_back(std::move(shared));
}

std::size_t CInProcessBus::UnsubscribeAll() {
    RefuseBusThread("UnsubscribeAll");
    std::vector<std::shared_ptr<Lane>> removed;
    std::size_t dropped = 0;
    std::unique_lock lock(lock_);
    for (auto& entry : lanes_) {
        const std::shared_ptr<Lane>& lane = entry.second;
        dropped += lane->pending.size();
        lane->pending.clear();
        if (!lane->running) lane->scheduled = false;
        removed.push_back(lane);
    }
    std::erase_if(ready_, [](const std::shared_ptr<Lane>& lane) { return lane->subscriber; });
    lanes_.clear();
    subscriptions_.clear();
    dropped_ += dropped;
    deliveryEnded_.wait(lock, [&removed] {
        return std::none_of(removed.begin(), removed.end(),
                            [](const std::shared_ptr<Lane>& lane) { return lane->running; });
    });
    return dropped;
}

bool CInProcessBus::WaitUntilIdle(std::chrono::steady_clock::duration timeout) {
    RefuseBusThread("WaitUntilIdle");
    std::unique_lock lock(lock_);
    return deliveryEnded_.wait_for(lock, timeout,
                                   [this] { return ready_.empty() && running_ == 0; });
}

void CInProcessBus::Stop() {
    RefuseBusThread("Stop");
    std::lock_guard stopLock(stopLock_);
    {
        std::lock_guard lock(lock_);
        stopping_ = true;
    }
    workAvailable_.notify_all();
    for (boost::thread& thread : threads_)
        thread.join();
    threads_.clear();
}

bool CInProcessBus::IsBusThread() const {
    return currentBus == this;
}

std::uint64_t CInProcessBus::GetSentCount() const {
    std::lock_guard lock(lock_);
    return sent_;
}

std::uint64_t CInProcessBus::GetDeliveredCount() const {
    std::lock_guard lock(lock_);
    return delivered_;
}

std::uint64_t CInProcessBus::GetDroppedCount() const {
    std::lock_guard lock(lock_);
    return dropped_;
}

void CInProcessBus::Work() {
    currentBus = this;
    std::unique_lock lock(lock_);
    for (;;) {
        workAvailable_.wait(lock, [this] { return !ready_.empty() || stopping_; });
        if (ready_.empty()) return;  // stopping, and everything queued was delivered

        const std::shared_ptr<Lane> lane = std::move(ready_.front());
        ready_.pop_front();
        Delivery delivery = std::move(lane->pending.front());
        lane->pending.pop_front();
        lane->running = true;
        ++running_;

        lock.unlock();
        Deliver(*lane, delivery);
        delivery = {};  // the message's last reference may go here, outside the lock
        lock.lock();

        lane->running = false;
        --running_;
        if (lane->subscriber) ++delivered_;
        if (lane->pending.empty()) {
            lane->scheduled = false;
        } else {
            ready_.push_back(lane);
            workAvailable_.notify_one();
        }
        deliveryEnded_.notify_all();
    }
}

void CInProcessBus::Deliver(const Lane& lane, const Delivery& delivery) {
    try {
        if (lane.subscriber) {
            lane.subscriber->OnMessage(delivery.message, delivery.userContext);
            return;
        }
        std::vector<std::shared_ptr<const Observer>> observers;
        {
            std::lock_guard lock(lock_);
            observers = observers_;
        }
        for (const auto& observer : observers) {
            try {
                (*observer)(delivery.message, delivery.userContext);
            } catch (const std::exception& error) {
                ReportFailure(delivery, error.what());
            } catch (...) {
                ReportFailure(delivery, "an exception of unknown type");
            }
        }
    } catch (const std::exception& error) {
        ReportFailure(delivery, error.what());
    } catch (...) {
        ReportFailure(delivery, "an exception of unknown type");
    }
}

void CInProcessBus::Enqueue(const std::shared_ptr<Lane>& lane, const Delivery& delivery) {
    lane->pending.push_back(delivery);
    if (!lane->scheduled) {
        lane->scheduled = true;
        ready_.push_back(lane);
        workAvailable_.notify_one();
    }
}

void CInProcessBus::ReportFailure(const Delivery& delivery, const char* what) const {
    if (!logger_) return;
    try {
        // Fixed text: other programs match it; keep it exactly as it is.
        logger_->Log("Delivery of " + delivery.message->GetTypeName() + " failed: " + what, 4,
                     "Bus");
    } catch (...) {
        // A failing logger must not end the bus thread; the failure is lost.
    }
}

void CInProcessBus::RefuseBusThread(const char* operation) const {
    if (IsBusThread()) {
        throw std::logic_error(std::string("CInProcessBus::") + operation +
                               " called from one of its own threads");
    }
}

}  // namespace Zent::Host

#pragma once

// A client of the real plug-in on the bus: the substitute kernel loads the Scheduler
// library, and requests go out with ids 1, 2, ... as if another module sent them. The
// clock is the machine's; detail lines are dropped, as in production.
//
//     CBusClient client;
//     client.Bus().AddObserver(watchTicks);   // sees every message on the bus
//     auto roundTrips = client.Run(1000, 64, makeRequest);

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "common/kernel/IMessage.h"
#include "common/module/Response.h"
#include "common/security/UserContext.h"
#include "host/SchedulerHost.h"

// Sends requests with ids 1, 2, ... and waits for their replies, which the bus observer
// hands over. Every request is answered exactly once; a reply missing for 10 s or a second
// reply to one request ends the run with std::runtime_error. Run is called from one thread
// at a time.
class CBusClient {
public:
    using MakeRequest =
        std::function<std::shared_ptr<Zent::Common::Kernel::IMessage>(std::uint32_t id)>;

    CBusClient() : host_(HostOptions()) {
        host_.GetBus().AddObserver(
            [this](const std::shared_ptr<Zent::Common::Kernel::IMessage>& message,
                   const Zent::Common::Kernel::UserContextPtr&) {
                if (const auto* reply =
                        dynamic_cast<const Zent::Common::Module::CResponse*>(message.get())) {
                    OnReply(reply->GetRequestId());
                }
            });
        host_.Load(SCHEDULER_LIBRARY);
        host_.Initialize();
        host_.Start();
    }
    ~CBusClient() {
        host_.PrepareShutdown();
        while (!host_.Stop(false))
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        host_.Unload();
    }

    // Every message sent on the bus, requests and ticks included, reaches its observers.
    Zent::Host::CInProcessBus& Bus() { return host_.GetBus(); }

    // Sends `count` requests keeping at most `window` unanswered; returns the round trip
    // of each in microseconds.
    std::vector<std::int64_t> Run(std::uint32_t count, std::uint32_t window,
                                  const MakeRequest& make) {
        {
            std::lock_guard lock(mutex_);
            sentAt_.assign(count, {});
            roundTrips_.assign(count, -1);
            firstId_ = nextId_;
            answered_ = 0;
        }
        for (std::uint32_t i = 0; i < count; ++i) {
            std::unique_lock lock(mutex_);
            if (!replied_.wait_for(lock, kReplyTimeout, [&] { return i - answered_ < window; })) {
                throw std::runtime_error("a reply did not come within 10 s");
            }
            const std::uint32_t id = nextId_++;
            sentAt_[id - firstId_] = std::chrono::steady_clock::now();
            lock.unlock();
            if (!host_.Send(make(id), context_)) throw std::runtime_error("the bus refused");
        }
        std::unique_lock lock(mutex_);
        if (!replied_.wait_for(lock, kReplyTimeout, [&] { return answered_ == count; })) {
            throw std::runtime_error("a reply did not come within 10 s");
        }
        if (doubled_) throw std::runtime_error("a request was answered twice");
        return roundTrips_;
    }

private:
    static constexpr std::chrono::seconds kReplyTimeout{10};

    static Zent::Host::CSchedulerHost::Options HostOptions() {
        Zent::Host::CSchedulerHost::Options options;
        options.minimumLogLevel = 2;
        options.logSink = [](const Zent::Host::LogRecord&) {};
        return options;
    }

    void OnReply(std::uint32_t id) {
        const std::chrono::steady_clock::time_point now = std::chrono::steady_clock::now();
        std::lock_guard lock(mutex_);
        if (id < firstId_ || id - firstId_ >= roundTrips_.size()) return;  // an earlier run's
        std::int64_t& roundTrip = roundTrips_[id - firstId_];
        if (roundTrip >= 0) {
            doubled_ = true;
            return;
        }
        roundTrip =
            std::chrono::duration_cast<std::chrono::microseconds>(now - sentAt_[id - firstId_])
                .count();
        ++answered_;
        replied_.notify_one();
    }

    Zent::Host::CSchedulerHost host_;
    std::shared_ptr<Zent::Common::Security::CUserContext> context_ =
        std::make_shared<Zent::Common::Security::CUserContext>();
    std::mutex mutex_;
    std::condition_variable replied_;
    std::uint32_t nextId_ = 1;
    std::uint32_t firstId_ = 1;
    std::uint32_t answered_ = 0;
    bool doubled_ = false;
    std::vector<std::chrono::steady_clock::time_point> sentAt_;
    std::vector<std::int64_t> roundTrips_;
};

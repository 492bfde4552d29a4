#pragma once

// A tick handler that keeps every tick with the scheduler clock's UTC time of delivery, and
// lets a test wait for a number of them.
//
//     auto ticks = std::make_shared<CRecordingTickHandler>();
//     CTimeScheduler scheduler(logger, ticks);
//     ASSERT_TRUE(ticks->WaitFor(2, 3s));

#include <boost/date_time/posix_time/posix_time.hpp>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Scheduler/timescheduler/Clock.h"
#include "Scheduler/timescheduler/ITickHandler.h"
#include "common/security/UserContext.h"

namespace Zent::Testing {

struct Tick {
    std::string userData;  // the user data's type name
    std::shared_ptr<Common::Security::CUserContext> context;
    boost::posix_time::ptime at;
};

class CRecordingTickHandler : public Scheduler::ITickHandler {
public:
    void OnTick(std::shared_ptr<Common::Kernel::IMessage> userData,
                std::shared_ptr<Common::Security::CUserContext> context) override {
        std::lock_guard lock(mutex_);
        ticks_.push_back({userData->GetTypeName(), std::move(context),
                          Scheduler::CurrentClock()->UniversalTime()});
        changed_.notify_all();
    }
    // True once `count` ticks have come, false when `timeout` passes first.
    bool WaitFor(std::size_t count, std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return ticks_.size() >= count; });
    }
    std::vector<Tick> Ticks() const {
        std::lock_guard lock(mutex_);
        return ticks_;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Tick> ticks_;
};

}  // namespace Zent::Testing

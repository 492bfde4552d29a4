#include "Scheduler/timescheduler/Clock.h"

#include <ctime>

#include <boost/date_time/posix_time/posix_time.hpp>

namespace Zent::Scheduler {

namespace {

std::mutex currentLock;

std::shared_ptr<IClock>& Current() {
    static std::shared_ptr<IClock> current = std::make_shared<CSystemClock>();
    return current;
}

}  // namespace

boost::posix_time::ptime CSystemClock::UniversalTime() const {
    return boost::posix_time::microsec_clock::universal_time();
}

boost::posix_time::time_duration CSystemClock::UtcOffset(boost::posix_time::ptime utc) const {
    static const boost::posix_time::ptime epoch(boost::gregorian::date(1970, 1, 1));
    const std::time_t seconds = (utc - epoch).total_seconds();
    std::tm local{};
    if (localtime_r(&seconds, &local) == nullptr) return {};
    return boost::posix_time::seconds(local.tm_gmtoff);
}

std::chrono::nanoseconds CSystemClock::SteadyTime() const {
    return std::chrono::steady_clock::now().time_since_epoch();
}

boost::posix_time::ptime CAdjustableClock::UniversalTime() const {
    std::lock_guard lock(lock_);
    return system_.UniversalTime() + shift_;
}

boost::posix_time::time_duration CAdjustableClock::UtcOffset(boost::posix_time::ptime utc) const {
    std::lock_guard lock(lock_);
    return fixedOffset_ ? offset_ : system_.UtcOffset(utc);
}

std::chrono::nanoseconds CAdjustableClock::SteadyTime() const {
    return system_.SteadyTime();
}

void CAdjustableClock::Jump(boost::posix_time::time_duration delta) {
    std::lock_guard lock(lock_);
    shift_ += delta;
}

void CAdjustableClock::SetUtcOffset(boost::posix_time::time_duration offset) {
    std::lock_guard lock(lock_);
    fixedOffset_ = true;
    offset_ = offset;
}

std::shared_ptr<IClock> CurrentClock() {
    std::lock_guard lock(currentLock);
    return Current();
}

void SetCurrentClock(std::shared_ptr<IClock> clock) {
    std::lock_guard lock(currentLock);
    Current() = clock ? std::move(clock) : std::make_shared<CSystemClock>();
}

ScopedClock::ScopedClock(std::shared_ptr<IClock> clock) : previous_(CurrentClock()) {
    SetCurrentClock(std::move(clock));
}

ScopedClock::~ScopedClock() {
    SetCurrentClock(std::move(previous_));
}

}  // namespace Zent::Scheduler

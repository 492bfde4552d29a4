#include "Scheduler/timescheduler/Clock.h"

#include <poll.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>

#include <boost/date_time/posix_time/posix_time.hpp>
#include <boost/thread/condition_variable.hpp>
#include <boost/thread/mutex.hpp>
#include <boost/thread/thread.hpp>

namespace Zent::Scheduler {

struct CAdjustableClock::Settings {
    boost::mutex mutex;
    boost::condition_variable changed;
    std::uint64_t count = 0;  // settings so far

    void Announce() {
        {
            boost::lock_guard lock(mutex);
            ++count;
        }
        changed.notify_all();
    }
};

namespace {

std::mutex currentLock;

// The longest a wait on the machine's clock goes without looking for an interruption.
constexpr std::chrono::milliseconds kInterruptionSlice{50};

// A timerfd on CLOCK_REALTIME, armed far ahead with TFD_TIMER_CANCEL_ON_SET: the kernel
// cancels it, and makes it readable, whenever the clock is set.
class CTimerFdWatch : public IWallClockWatch {
public:
    CTimerFdWatch() : fd_(timerfd_create(CLOCK_REALTIME, TFD_CLOEXEC | TFD_NONBLOCK)) {
        if (fd_ >= 0 && !Arm()) Close();
    }
    ~CTimerFdWatch() override { Close(); }
    CTimerFdWatch(const CTimerFdWatch&) = delete;
    CTimerFdWatch& operator=(const CTimerFdWatch&) = delete;

    bool Wait(std::chrono::milliseconds timeout) override {
        using std::chrono::steady_clock;
        const auto deadline = steady_clock::now() + timeout;
        for (;;) {
            boost::this_thread::interruption_point();
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - steady_clock::now());
            if (left.count() <= 0) return false;
            const auto slice = std::min(left, kInterruptionSlice);
            if (fd_ < 0) {
                boost::this_thread::sleep_for(boost::chrono::milliseconds(slice.count()));
                continue;
            }
            pollfd ready{fd_, POLLIN, 0};
            if (poll(&ready, 1, static_cast<int>(slice.count())) > 0 && Consume()) return true;
        }
    }

private:
    // About the year 2255, below the kernel's largest time: only a setting ends the wait.
    static constexpr std::time_t kFarAhead = 9000000000;

    bool Arm() {
        itimerspec spec{};
        spec.it_value.tv_sec = kFarAhead;
        return timerfd_settime(fd_, TFD_TIMER_ABSTIME | TFD_TIMER_CANCEL_ON_SET, &spec, nullptr) ==
               0;
    }

    // True when the fd turned readable because the clock was set; re-arms it for the next.
    bool Consume() {
        std::uint64_t expirations = 0;
        const ssize_t read = ::read(fd_, &expirations, sizeof expirations);
        if (read < 0 && errno == ECANCELED) {
            if (!Arm()) Close();
            return true;
        }
        // Expired: the clock reads beyond kFarAhead, where only the time-out is left.
        if (read > 0) Close();
        return false;
    }

    void Close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

    int fd_;
};

class CSettingsWatch : public IWallClockWatch {
public:
    explicit CSettingsWatch(std::shared_ptr<CAdjustableClock::Settings> settings)
        : settings_(std::move(settings)) {
        boost::lock_guard lock(settings_->mutex);
        seen_ = settings_->count;
    }

    bool Wait(std::chrono::milliseconds timeout) override {
        boost::unique_lock lock(settings_->mutex);
        const bool set =
            settings_->changed.wait_for(lock, boost::chrono::milliseconds(timeout.count()),
                                        [this] { return settings_->count != seen_; });
        seen_ = settings_->count;
        return set;
    }

private:
    std::shared_ptr<CAdjustableClock::Settings> settings_;
    std::uint64_t seen_ = 0;
};

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

std::unique_ptr<IWallClockWatch> CSystemClock::WatchWallClock() const {
    return std::make_unique<CTimerFdWatch>();
}

CAdjustableClock::CAdjustableClock() : settings_(std::make_shared<Settings>()) {}

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

std::unique_ptr<IWallClockWatch> CAdjustableClock::WatchWallClock() const {
    return std::make_unique<CSettingsWatch>(settings_);
}

void CAdjustableClock::Jump(boost::posix_time::time_duration delta, bool announce) {
    {
        std::lock_guard lock(lock_);
        shift_ += delta;
    }
    if (announce) settings_->Announce();
}

void CAdjustableClock::SetUtcOffset(boost::posix_time::time_duration offset) {
    {
        std::lock_guard lock(lock_);
        fixedOffset_ = true;
        offset_ = offset;
    }
    settings_->Announce();
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

#pragma once

// The clocks the time scheduler reads, behind one seam so that tests can move time.
//
// IClock gives the wall clock as UTC with microseconds, the local time zone's offset from
// UTC, a steady clock, and a watch that wakes a thread when the wall clock is set. The deadline
// timers of the scheduler measure their expiries with the process-wide current clock
// (ClockTimeTraits), so a test clock that jumps moves the observer's readings and the timers'
// notion of "now" together.
//
//     auto clock = std::make_shared<CAdjustableClock>();
//     ScopedClock use(clock);                 // scheduler and timers now read `clock`
//     clock->Jump(boost::posix_time::hours(2));
//
// Every operation may be called from any thread.

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>

#include <boost/asio/basic_deadline_timer.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/date_time/posix_time/posix_time_types.hpp>

namespace Zent::Scheduler {

// Wakes one waiting thread when the wall clock is set (not when it merely runs).
class IWallClockWatch {
public:
    virtual ~IWallClockWatch() = default;
    // Blocks until the wall clock is set or `timeout` has passed. Returns true when it was
    // set since the watch was made or since the previous Wait returned (a setting between
    // two waits is not lost). A boost::thread interruption ends the wait by throwing
    // boost::thread_interrupted, within 50 ms.
    virtual bool Wait(std::chrono::milliseconds timeout) = 0;
};

class IClock {
public:
    virtual ~IClock() = default;
    // The wall clock as UTC, microsecond resolution.
    virtual boost::posix_time::ptime UniversalTime() const = 0;
    // Local time minus UTC at the UTC instant `utc`, in whole seconds.
    virtual boost::posix_time::time_duration UtcOffset(boost::posix_time::ptime utc) const = 0;
    // A clock that never jumps, for measuring intervals.
    virtual std::chrono::nanoseconds SteadyTime() const = 0;
    // A new watch on settings of this clock's wall time. Never null.
    virtual std::unique_ptr<IWallClockWatch> WatchWallClock() const = 0;
};

// The machine's clocks; local time follows the process's time zone (TZ). Its watch sees
// every setting of CLOCK_REALTIME through a timerfd (TFD_TIMER_CANCEL_ON_SET); where the
// kernel offers none, the watch only waits out its time-out.
class CSystemClock : public IClock {
public:
    boost::posix_time::ptime UniversalTime() const override;
    boost::posix_time::time_duration UtcOffset(boost::posix_time::ptime utc) const override;
    std::chrono::nanoseconds SteadyTime() const override;
    std::unique_ptr<IWallClockWatch> WatchWallClock() const override;
};

// The machine's clocks shifted by an adjustable amount, with an adjustable UTC offset:
// time runs on at its real pace, and tests jump it or move its zone. Its watches wake on
// its own jumps and zone changes, never on the machine's.
class CAdjustableClock : public IClock {
public:
    // Starts at the real time, in the process's time zone.
    CAdjustableClock();

    boost::posix_time::ptime UniversalTime() const override;
    boost::posix_time::time_duration UtcOffset(boost::posix_time::ptime utc) const override;
    std::chrono::nanoseconds SteadyTime() const override;
    std::unique_ptr<IWallClockWatch> WatchWallClock() const override;

    // Moves the wall clock by `delta` (the steady clock does not move) and wakes the
    // watches, as setting the machine's clock does. With `announce` false the watches
    // are not woken: a change that no watcher happened to see.
    void Jump(boost::posix_time::time_duration delta, bool announce = true);
    // Fixes the local zone's offset from UTC and wakes the watches, so that a watcher
    // looks at the new offset at once.
    void SetUtcOffset(boost::posix_time::time_duration offset);

    struct Settings;  // what the watches wait on

private:
    mutable std::mutex lock_;
    CSystemClock system_;
    boost::posix_time::time_duration shift_;
    bool fixedOffset_ = false;
    boost::posix_time::time_duration offset_;
    std::shared_ptr<Settings> settings_;
};

// The clock of the scheduler and its timers; the system clock unless replaced.
std::shared_ptr<IClock> CurrentClock();
void SetCurrentClock(std::shared_ptr<IClock> clock);

// Installs a clock for its lifetime and puts the previous one back afterwards.
class ScopedClock {
public:
    explicit ScopedClock(std::shared_ptr<IClock> clock);
    ~ScopedClock();
    ScopedClock(const ScopedClock&) = delete;
    ScopedClock& operator=(const ScopedClock&) = delete;

private:
    std::shared_ptr<IClock> previous_;
};

// Deadline timers whose "now" is CurrentClock()'s UTC time.
struct ClockTimeTraits {
    using time_type = boost::posix_time::ptime;
    using duration_type = boost::posix_time::time_duration;

    static time_type now() { return CurrentClock()->UniversalTime(); }
    static time_type add(const time_type& t, const duration_type& d) { return t + d; }
    static duration_type subtract(const time_type& t1, const time_type& t2) { return t1 - t2; }
    static bool less_than(const time_type& t1, const time_type& t2) { return t1 < t2; }
    static boost::posix_time::time_duration to_posix_duration(const duration_type& d) { return d; }
};

// Bound to the io_context's own executor rather than the type-erased default, which keeps
// a timer and each of its pending waits about 100 bytes smaller.
using DeadlineTimer = boost::asio::basic_deadline_timer<boost::posix_time::ptime, ClockTimeTraits,
                                                        boost::asio::io_context::executor_type>;

}  // namespace Zent::Scheduler

#pragma once

// The clocks the time scheduler reads, behind one seam so that tests can move time.
//
// IClock gives the wall clock as UTC with microseconds, the local time zone's offset from
// UTC, and a steady clock. The deadline timers of the scheduler measure their expiries
// with the process-wide current clock (ClockTimeTraits), so a test clock that jumps moves
// the observer's readings and the timers' notion of "now" together.
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

class IClock {
public:
    virtual ~IClock() = default;
    // The wall clock as UTC, microsecond resolution.
    virtual boost::posix_time::ptime UniversalTime() const = 0;
    // Local time minus UTC at the UTC instant `utc`, in whole seconds.
    virtual boost::posix_time::time_duration UtcOffset(boost::posix_time::ptime utc) const = 0;
    // A clock that never jumps, for measuring intervals.
    virtual std::chrono::nanoseconds SteadyTime() const = 0;
};

// The machine's clocks; local time follows the process's time zone (TZ).
class CSystemClock : public IClock {
public:
    boost::posix_time::ptime UniversalTime() const override;
    boost::posix_time::time_duration UtcOffset(boost::posix_time::ptime utc) const override;
    std::chrono::nanoseconds SteadyTime() const override;
};

// The machine's clocks shifted by an adjustable amount, with an adjustable UTC offset:
// time runs on at its real pace, and tests jump it or move its zone.
class CAdjustableClock : public IClock {
public:
    // Starts at the real time, in the process's time zone.
    CAdjustableClock() = default;

    boost::posix_time::ptime UniversalTime() const override;
    boost::posix_time::time_duration UtcOffset(boost::posix_time::ptime utc) const override;
    std::chrono::nanoseconds SteadyTime() const override;

    // Moves the wall clock by `delta` (the steady clock does not move).
    void Jump(boost::posix_time::time_duration delta);
    // Fixes the local zone's offset from UTC.
    void SetUtcOffset(boost::posix_time::time_duration offset);

private:
    mutable std::mutex lock_;
    CSystemClock system_;
    boost::posix_time::time_duration shift_;
    bool fixedOffset_ = false;
    boost::posix_time::time_duration offset_;
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

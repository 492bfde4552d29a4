#pragma once

// What a driver that loads the plug-in into its own process (a stress or soak program) may
// change in the loaded copy: the clock its time scheduler reads and the periods of that
// scheduler's observer. The library keeps its own copy of the clock seam, so a driver
// reaches these through the exported C names, looked up in the loaded library:
//
//     Poco::SharedLibrary library(path);
//     auto setClock = reinterpret_cast<decltype(&ZentSchedulerSetClock)>(
//         library.getSymbol(kZentSchedulerSetClockSymbol));
//     setClock(std::make_shared<Zent::Scheduler::CAdjustableClock>());
//
// Both may be called from any thread.

#include <cstdint>
#include <memory>

#include "Scheduler/timescheduler/Clock.h"
#include "Scheduler/timescheduler/TimeScheduler.h"

extern "C" {

// Makes `clock` the clock of the library's time scheduler and its timers at once; null
// puts the system clock back.
__attribute__((visibility("default"))) void ZentSchedulerSetClock(
    std::shared_ptr<Zent::Scheduler::IClock> clock);

// Sets the clock-comparison and event-dump periods, in milliseconds, of the time schedulers
// that modules create from now on (in Initialize); a value below 1 keeps that period's
// default. A scheduler already running keeps its periods.
__attribute__((visibility("default"))) void ZentSchedulerSetObserverPeriods(
    std::int64_t checkMilliseconds, std::int64_t dumpMilliseconds);

}  // extern "C"

inline constexpr const char* kZentSchedulerSetClockSymbol = "ZentSchedulerSetClock";
inline constexpr const char* kZentSchedulerSetObserverPeriodsSymbol =
    "ZentSchedulerSetObserverPeriods";

namespace Zent::Scheduler {

// The options for the next time scheduler a module creates: the defaults, with the
// periods a driver set.
CTimeScheduler::Options ModuleTimeSchedulerOptions();

}  // namespace Zent::Scheduler

#include "Scheduler/ModuleSeams.h"

#include <atomic>
#include <chrono>
#include <utility>

namespace {

// 0: the default period.
std::atomic<std::int64_t> checkPeriodMs{0};
std::atomic<std::int64_t> dumpPeriodMs{0};

}  // namespace

void ZentSchedulerSetClock(std::shared_ptr<Zent::Scheduler::IClock> clock) {
    Zent::Scheduler::SetCurrentClock(std::move(clock));
}

void ZentSchedulerSetObserverPeriods(std::int64_t checkMilliseconds,
                                     std::int64_t dumpMilliseconds) {
    checkPeriodMs = checkMilliseconds > 0 ? checkMilliseconds : 0;
    dumpPeriodMs = dumpMilliseconds > 0 ? dumpMilliseconds : 0;
}

namespace Zent::Scheduler {

CTimeScheduler::Options ModuleTimeSchedulerOptions() {
    CTimeScheduler::Options options;
    if (const std::int64_t check = checkPeriodMs; check > 0) {
        options.checkPeriod = std::chrono::milliseconds(check);
    }
    if (const std::int64_t dump = dumpPeriodMs; dump > 0) {
        options.dumpPeriod = std::chrono::milliseconds(dump);
    }
    return options;
}

}  // namespace Zent::Scheduler

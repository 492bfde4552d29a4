// Planning, arming and firing of cron events.
//
// The log lines in this file:
// Fixed text (matched by other modules and operators): keep verbatim, typos too.

#include <algorithm>

#include <boost/date_time/posix_time/posix_time.hpp>
#include <boost/thread/exceptions.hpp>

#include "Scheduler/crontab/CrontabValidationException.h"
#include "Scheduler/timescheduler/EventLimits.h"
#include "Scheduler/timescheduler/TimeScheduler.h"

namespace Zent::Scheduler {

namespace Texts = TimeSchedulerTexts;

namespace {

using boost::posix_time::ptime;
using boost::posix_time::seconds;

}  // namespace

CTimeScheduler::Time CTimeScheduler::NowInEventBase(const TimeEvent& timeEvent) const {
    return NowInEventBase(timeEvent, clock_->UniversalTime());
}

CTimeScheduler::Time CTimeScheduler::NowInEventBase(const TimeEvent& timeEvent, Time utc) const {
    return timeEvent.utclocal() ? utc : utc + clock_->UtcOffset(utc);
}

bool CTimeScheduler::WallClockInRange(Time utc) {
    static const ptime first(boost::gregorian::date(1970, 1, 1));
    static const ptime beyond(boost::gregorian::date(2100, 1, 1));
    return !utc.is_special() && !(utc < first) && utc < beyond;
}

CTimeScheduler::Time CTimeScheduler::GetNextOccurrence(TimeEventDesc& desc, Time nowUtc) const {
    const TimeEvent& event = desc.timeEvent;
    const CCrontabScheduler& crontab = desc.crontab;
    const bool fixedNow = !nowUtc.is_not_a_date_time();
    const auto readNow = [&] {
        return fixedNow ? NowInEventBase(event, nowUtc) : NowInEventBase(event);
    };
    Time now = readNow();
    const bool firstPlanning = desc.nextOccurrence.is_not_a_date_time();
    const bool hasStart = event.has_starttime();
    if (firstPlanning) desc.nextOccurrence = hasStart ? ToTimePoint(event.starttime()) : now;
    if (LimitReached(event, desc.tickCount)) return {};
    const Time end = EndLimit(event);

    // The stored start is the cursor of the first match at or after the requested start
    // (WithStoredStart); without a start, the first match at or after now.
    const Time cursor = firstPlanning && !hasStart ? CursorForMatchAtOrAfter(desc.nextOccurrence)
                                                   : desc.nextOccurrence;
    Time candidate = crontab.NextOccurrence(std::max(cursor, EarliestCursor()), end);
    // Past occurrences are skipped, never delivered late: four steps, then a jump to now.
    for (int searches = 1;; ++searches) {
        if (candidate.is_not_a_date_time()) return candidate;
        desc.nextOccurrence = candidate;
        if (!fixedNow) now = readNow();
        if (!(candidate < now)) return candidate;
        candidate = crontab.NextOccurrence(searches < 4 ? candidate : now, end);
    }
}

CTimeScheduler::Time CTimeScheduler::GetFollowingOccurrence(const TimeEventDesc& desc,
                                                            Time t) const {
    const TimeEvent& event = desc.timeEvent;
    if (LimitReached(event, std::uint64_t{desc.tickCount} + 1)) return {};
    if (t.is_not_a_date_time()) {
        const Time base =
            event.has_starttime() ? ToTimePoint(event.starttime()) : NowInEventBase(event);
        return desc.crontab.NextOccurrence(
            std::max(CursorForMatchAtOrAfter(base), EarliestCursor()), EndLimit(event));
    }
    return desc.crontab.NextOccurrence(t, EndLimit(event));
}

CTimeScheduler::Time CTimeScheduler::ApplyDelay(std::int32_t delay, Time next,
                                                Time following) const {
    if (!following.is_not_a_date_time() && (following - next).total_seconds() < delay) {
        throw CCrontabValidationException(Texts::kDelayBeyondInterval);
    }
    if (delay < 1) return next;
    return next + seconds(options_.random() % static_cast<std::uint32_t>(delay));
}

CTimeScheduler::Time CTimeScheduler::PlanDelay(std::uint64_t id, const TimeEventDesc& desc,
                                               Time next) const {
    try {
        return ApplyDelay(desc.timeEvent.delay(), next, GetFollowingOccurrence(desc, next));
    } catch (const CCrontabValidationException& e) {
        logger_.Error() << e.what() << " Event id: " << id << " ticks at "
                        << boost::posix_time::to_simple_string(next) << " without delay.";
        return next;
    }
}

CTimeScheduler::Time CTimeScheduler::LocalToUtc(Time t) const {
    if (t.is_special()) return t;
    return t - clock_->UtcOffset(clock_->UniversalTime());
}

bool CTimeScheduler::RegisterEventWithTimer(Time next, TimeEventDesc& desc, std::uint64_t id,
                                            Arming arming, Time walkStart) {
    if (!desc.timeEvent.utclocal()) next = LocalToUtc(next);
    if (walkStart.is_special()) NoteArming();
    logger_.Detail() << "RegisterEventWithTimer: next occurance of id: " << id
                     << " at: " << LogTime{next} << ". " << LogDescription{desc};
    const Time now = walkStart.is_special() ? clock_->UniversalTime() : walkStart;
    if (next < Time(now.date(), seconds(now.time_of_day().total_seconds()))) {
        ProcessTimerEvent(id);
        return true;
    }
    DeadlineTimer& timer = desc.timer;
    const std::size_t cancelled = timer.expires_at(next);
    if (arming == Arming::Replace) {
        if (cancelled == 0) {
            logger_.Detail() << "RegisterEventWithTimer: failed for time " << LogTime{next}
                             << " because operation was already performed";
            return false;
        }
        logger_.Detail() << "RegisterEventWithTimer: async_wait for " << LogTime{next};
    }
    timer.async_wait(
        [this, id](const boost::system::error_code& error) { TimerHandler(error, id); });
    return true;
}

void CTimeScheduler::TimerHandler(const boost::system::error_code& error, std::uint64_t id) {
    // First the cheapest test: a re-plan of every event leaves one cancelled wait each,
    // all ahead of the timers that fall due meanwhile.
    if (error) return;
    if (!IsTicking()) return;
    if (boost::this_thread::interruption_requested()) return;  // the scheduler is going away
    Lock lock(eventMutex_);
    logger_.Detail() << "Invoking TimerHandler id: " << id;
    ProcessTimerEvent(id);
    logger_.Detail() << "Finished invoking TimerHandler id: " << id;
}

void CTimeScheduler::ProcessTimerEvent(std::uint64_t id) {
    const auto found = eventDescriptions_.find(id);
    if (found == eventDescriptions_.end()) {
        logger_.Error() << "Failed to invoke timer handler id: " << id
                        << " because it does not exist in Event description map";
        return;
    }
    if (!found->second) {
        logger_.Error() << "Failed to invoke timer handler id: " << id
                        << " because the event descriptor is null";
        return;
    }
    const DescPtr desc = found->second;
    const Time wall = clock_->UniversalTime();
    if (!WallClockInRange(wall)) {
        ParkCronEvent(*desc, wall);
        return;
    }
    ++desc->tickCount;
    // The next occurrence is armed whatever the handlers do; an interruption (the
    // scheduler is going away) leaves once that is done.
    bool interrupted = false;
    try {
        InvokeTickHandlers(id, desc->userData, desc->userContext);
    } catch (const boost::thread_interrupted&) {
        interrupted = true;
    }
    const auto leaveIfInterrupted = [interrupted] {
        if (interrupted) throw boost::thread_interrupted();
    };

    Time planFrom;
    if (AwaitsWalk(id)) {
        planFrom = walk_->start;
        walk_->plannedEarly.insert(id);
    } else if (!plansFromWalk_.empty()) {
        if (const auto deferred = plansFromWalk_.find(id); deferred != plansFromWalk_.end()) {
            planFrom = deferred->second;
            plansFromWalk_.erase(deferred);
        }
    }
    Time next = GetNextOccurrence(*desc, planFrom);
    if (next.is_not_a_date_time() && planFrom.is_not_a_date_time()) {
        // The search read the clock again: one that left the supported years since `wall`
        // finds nothing, and the event waits for it instead of ending.
        if (const Time now = clock_->UniversalTime(); !WallClockInRange(now)) {
            ParkCronEvent(*desc, now);
            leaveIfInterrupted();
            return;
        }
    }
    if (next.is_not_a_date_time()) {
        logger_.Detail() << "ProcessTimerEvent: Event description map: Erasing id: " << id;
        Erase(found);
        leaveIfInterrupted();
        return;
    }
    if (desc->timeEvent.has_delay()) next = PlanDelay(id, *desc, next);
    eventAdded_.notify_one();
    RegisterEventWithTimer(next, *desc, id, Arming::Fresh);
    leaveIfInterrupted();
}

void CTimeScheduler::ParkCronEvent(TimeEventDesc& desc, Time wall) {
    desc.nextOccurrence = Time();
    desc.timer.cancel();
    if (!clockOutOfRange_.exchange(true)) {
        logger_.Error() << "The wall clock reads " << boost::posix_time::to_simple_string(wall)
                        << ", outside 1970..2099: time events wait until it is back";
    }
}

}  // namespace Zent::Scheduler

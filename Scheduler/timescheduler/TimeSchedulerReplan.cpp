// Clock changes: the observer thread, which compares the wall clock with the steady clock
// (and dumps the events now and then), and the re-plan of every event that a jump or a new
// local offset sets off.
//
// The log lines in this file:
// Fixed text (matched by other modules and operators): keep verbatim, typos too.

#include <cstdlib>
#include <future>
#include <string>

#include <boost/asio/post.hpp>
#include <boost/date_time/posix_time/posix_time.hpp>

#include "Scheduler/timescheduler/TimeScheduler.h"

namespace Zent::Scheduler {

void CTimeScheduler::TimeObserverMain() {
    using std::chrono::duration_cast;
    using std::chrono::microseconds;
    const auto steadyNow = [this] { return clock_->SteadyTime(); };
    auto dumpDeadline = steadyNow() + options_.dumpPeriod;
    // Made before the first wait, so that a setting of the clock is never missed.
    const std::unique_ptr<IWallClockWatch> watch = clock_->WatchWallClock();
    for (;;) {
        try {
            {
                Lock lock(eventMutex_);
                if (eventDescriptions_.empty()) {
                    FlushScheduledEvents(lock);
                    while (eventDescriptions_.empty())
                        eventAdded_.wait(lock);
                    // Whatever the clocks did while nothing was registered is no jump, but
                    // a setting after the first event was planned is: this thread may wake
                    // well after the registration.
                    SetBaseline(firstPlannedWall_, firstPlannedSteady_);
                    armedOffBaseline_ = false;
                    lastObservedOffset_ = clock_->UtcOffset(lastObservedTime_);
                }
            }
            // A setting of the wall clock ends the wait at once; the period is for what no
            // setting announces: zone offset changes, drift, a watch the kernel lacks.
            watch->Wait(options_.checkPeriod);

            const Time wall = clock_->UniversalTime();
            const std::chrono::nanoseconds steady = steadyNow();
            const std::int64_t wallProgress = (wall - lastObservedTime_).total_microseconds();
            const std::int64_t steadyProgress =
                duration_cast<microseconds>(steady - lastObservedSteady_).count();
            const std::int64_t difference = wallProgress - steadyProgress;
            // Two jumps between two checks may cancel out, yet a timer set between them
            // is off by the first one: that timer's arming raised the flag.
            const bool armedOffBaseline = armedOffBaseline_.exchange(false);
            // Events parked while the clock was out of range wait for a re-plan, however
            // small the step that brought it back.
            const bool backInRange = clockOutOfRange_ && WallClockInRange(wall);
            if (armedOffBaseline || backInRange ||
                std::llabs(difference) >
                    duration_cast<microseconds>(options_.jumpThreshold).count()) {
                const std::int64_t delta = difference / 1000000;
                SetBaseline(wall, steady);
                // A timer armed since the setting, before the new baseline, raised the flag;
                // the re-plan below covers it.
                armedOffBaseline_ = false;
                logger_.Detail() << "TimeObserverMain: the time delta is " << delta << " seconds";
                NotifyTimeChanged(delta);
            }

            const boost::posix_time::time_duration offset = clock_->UtcOffset(wall);
            if (offset != lastObservedOffset_) {
                lastObservedOffset_ = offset;
                logger_.Info() << "NotifyTimeChanged: The local UTC offset changed to " << offset
                               << "; re-planning local time events";
                ReplanOnTimerThread(true, Time());
            }

            if (dumpDeadline < steady) {
                Lock lock(eventMutex_);
                FlushScheduledEvents(lock);
                dumpDeadline = steady + options_.dumpPeriod;
            }
        } catch (const boost::thread_interrupted&) {
            return;
        } catch (const std::exception& e) {
            logger_.Error() << "Exception at CTimeScheduler::TimeObserverMain: " << e.what();
        } catch (...) {
            logger_.Error() << "Exception at CTimeScheduler::TimeObserverMain: unknown exception";
        }
    }
}

// Cron events are planned afresh from the current time, and each sleep event compares its
// due times with both clocks. The delta only tells which pending ticks to keep: after a
// jump forward, those that were due before now lie in the skipped span; otherwise every
// pending tick that is not later than its fresh plan is still to be delivered, even one
// whose time has passed while the timer thread was busy.
void CTimeScheduler::NotifyTimeChanged(std::int64_t delta) {
    logger_.Info() << "NotifyTimeChanged: Processing time change notification";
    ReplanOnTimerThread(false,
                        delta > 0 ? clock_->UniversalTime() : Time(boost::posix_time::neg_infin));
}

namespace {

// Wall minus steady clock, in microseconds, for two readings taken together.
std::int64_t SkewUs(CTimeScheduler::Time wall, std::chrono::nanoseconds steady) {
    static const CTimeScheduler::Time epoch(boost::gregorian::date(1970, 1, 1));
    return (wall - epoch).total_microseconds() -
           std::chrono::duration_cast<std::chrono::microseconds>(steady).count();
}

}  // namespace

std::int64_t CTimeScheduler::ClockSkewUs() const {
    return SkewUs(clock_->UniversalTime(), clock_->SteadyTime());
}

bool CTimeScheduler::SkewOffBaseline() const {
    const std::int64_t threshold =
        std::chrono::duration_cast<std::chrono::microseconds>(options_.jumpThreshold).count();
    return std::llabs(ClockSkewUs() - baselineSkewUs_.load()) > threshold;
}

void CTimeScheduler::NoteArming() {
    if (SkewOffBaseline()) armedOffBaseline_ = true;
}

void CTimeScheduler::NoteFirstPlanning(Time wall, std::chrono::nanoseconds steady) {
    if (!eventDescriptions_.empty()) return;
    firstPlannedWall_ = wall;
    firstPlannedSteady_ = steady;
}

void CTimeScheduler::SetBaseline(Time wall, std::chrono::nanoseconds steady) {
    lastObservedTime_ = wall;
    lastObservedSteady_ = steady;
    baselineSkewUs_ = SkewUs(wall, steady);
}

void CTimeScheduler::ReplanOnTimerThread(bool localEventsOnly, Time keepFrom) {
    if (ioContext_->get_executor().running_in_this_thread()) {
        // Asked from a tick handler: the walk cannot yield to the thread it runs on.
        Lock lock(eventMutex_);
        BeginWalk(localEventsOnly, keepFrom);
        while (!ReplanChunk()) {
        }
        return;
    }
    const boost::lock_guard<boost::mutex> oneWalk(replanMutex_);
    auto done = std::make_shared<std::promise<void>>();
    auto finished = done->get_future();
    boost::asio::post(*ioContext_, [this, done, localEventsOnly, keepFrom] {
        {
            Lock lock(eventMutex_);
            BeginWalk(localEventsOnly, keepFrom);
        }
        ContinueWalk(done);
    });
    finished.get();
}

void CTimeScheduler::BeginWalk(bool localEventsOnly, Time keepFrom) {
    // One reading for the whole walk. No timer of an event completes while its chunk runs,
    // and those not walked yet plan from this reading too (AwaitsWalk), so an occurrence
    // that falls due meanwhile is armed in the past and ticks as soon as its chunk ends,
    // rather than being skipped.
    const Time start = clock_->UniversalTime();
    if (!keepFrom.is_special() && keepFrom > start) keepFrom = start;
    walk_ = Walk{localEventsOnly, keepFrom, start, clock_->SteadyTime(), 0, lastEventId_, {}};
}

void CTimeScheduler::ContinueWalk(const std::shared_ptr<std::promise<void>>& done) {
    try {
        Lock lock(eventMutex_);
        // A walk asked for from a tick handler meanwhile may have done the rest already.
        if (walk_ && !ReplanChunk()) {
            lock.unlock();
            boost::asio::post(*ioContext_, [this, done] { ContinueWalk(done); });
            return;
        }
    } catch (...) {
        walk_.reset();
        done->set_exception(std::current_exception());
        return;
    }
    done->set_value();
}

bool CTimeScheduler::AwaitsWalk(std::uint64_t id) const {
    return walk_ && id >= walk_->nextId && id <= walk_->lastId;
}

bool CTimeScheduler::ReplanChunk() {
    Walk& walk = *walk_;
    const bool inRange = WallClockInRange(walk.start);
    std::vector<std::uint64_t> ended;
    auto it = eventDescriptions_.lower_bound(walk.nextId);
    // A new zone offset moves the occurrences of local events into another base: one that
    // ticked between two chunks could not tell which of its new occurrences it delivered,
    // so that walk, over the local events alone, runs in one piece.
    const std::size_t chunk = walk.localEventsOnly ? eventDescriptions_.size() + 1 : kReplanChunk;
    // Delivering an occurrence found due may erase the event being re-planned, and no
    // other: the walk steps past it first.
    for (std::size_t walked = 0;
         walked < chunk && it != eventDescriptions_.end() && it->first <= walk.lastId; ++walked) {
        const std::uint64_t id = it->first;
        const DescPtr desc = it->second;
        ++it;
        walk.nextId = id + 1;
        if (!desc || walk.plannedEarly.erase(id) != 0) continue;
        try {
            if (desc->IsSleepEvent()) {
                if (!walk.localEventsOnly) ShiftSleepEvent(id, *desc, walk.start, walk.steady);
            } else if (!inRange) {
                ParkCronEvent(*desc, walk.start);
            } else if (!walk.localEventsOnly || !desc->timeEvent.utclocal()) {
                ReplanCronEvent(id, *desc, !walk.localEventsOnly, walk.start, walk.keepFrom, ended);
            }
        } catch (const std::exception& e) {
            logger_.Error() << "NotifyTimeChanged: failed to re-plan id: " << id << ": "
                            << e.what();
        }
    }
    for (const std::uint64_t id : ended) {
        const auto found = eventDescriptions_.find(id);
        if (found == eventDescriptions_.end()) continue;
        if (found->second) {
            logger_.Detail() << "NotifyTimeChanged : Timer: canceling id: " << id;
            found->second->timer.cancel();
        }
        logger_.Detail() << "NotifyTimeChanged : Event description map: erasing id: " << id;
        Erase(found);
    }
    NoteArming();  // for every timer the chunk has set
    WakeTimerQueue();
    const bool finished = it == eventDescriptions_.end() || it->first > walk.lastId;
    if (finished) {
        if (inRange && !walk.localEventsOnly) clockOutOfRange_ = false;
        walk_.reset();
    }
    return finished;
}

void CTimeScheduler::WakeTimerQueue() {
    // Asio recomputes its wake-up only when a timer becomes the earliest; one that is due
    // already makes it look at every expiry against the clock as it reads now.
    wakeTimer_->expires_at(boost::posix_time::ptime(boost::posix_time::min_date_time));
    wakeTimer_->async_wait([](const boost::system::error_code&) {});
}

void CTimeScheduler::ReplanCronEvent(std::uint64_t id, TimeEventDesc& desc, bool keepPendingTick,
                                     Time walkStart, Time keepFrom,
                                     std::vector<std::uint64_t>& ended) {
    const Time previous = desc.nextOccurrence;
    const Time pendingExpiry = desc.timer.expires_at();
    desc.nextOccurrence = Time();
    Time next = GetNextOccurrence(desc, walkStart);
    // After a jump, an occurrence whose (delayed) tick is still pending keeps that tick
    // rather than being skipped or drawing its delay again; so does an event's last one,
    // due before the walk began (nothing is planned after it then). A new zone offset
    // moves every tick.
    if (keepPendingTick && !previous.is_special() &&
        (next.is_not_a_date_time() || !(next < previous)) && !pendingExpiry.is_special() &&
        !(pendingExpiry < keepFrom)) {
        desc.nextOccurrence = previous;
        return;
    }
    if (next.is_not_a_date_time()) {
        logger_.Info() << "NotifyTimeChanged: Erasing time event id: " << id;
        ended.push_back(id);
        return;
    }
    logger_.Info() << "NotifyTimeChanged: Adjusting next occurrence of time event id: " << id
                   << " to be at: " << LogTime{next};
    eventAdded_.notify_one();
    if (desc.timeEvent.has_delay()) next = PlanDelay(id, desc, next);
    // A parked event has no wait to replace: it is armed whatever.
    const bool parked = previous.is_not_a_date_time();
    if (!RegisterEventWithTimer(next, desc, id, parked ? Arming::Fresh : Arming::Replace,
                                walkStart)) {
        // Its completion is under way: it delivers its occurrence and then plans from the
        // walk's start, like every other event of this walk.
        desc.nextOccurrence = previous;
        desc.timer.expires_at(pendingExpiry);
        plansFromWalk_[id] = walkStart;
    }
}

}  // namespace Zent::Scheduler

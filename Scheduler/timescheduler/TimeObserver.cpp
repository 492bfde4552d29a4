// The observer thread: clock jumps, local offset changes and the periodic dump.

#include <cstdlib>
#include <future>

#include <boost/asio/post.hpp>
#include <boost/date_time/posix_time/posix_time.hpp>

#include "Scheduler/timescheduler/TimeScheduler.h"

namespace Zent::Scheduler {

void CTimeScheduler::TimeObserverMain() {
    using std::chrono::duration_cast;
    using std::chrono::microseconds;
    const auto steadyNow = [this] { return clock_->SteadyTime(); };
    auto dumpDeadline = steadyNow() + options_.dumpPeriod;
    for (;;) {
        try {
            {
                Lock lock(eventMutex_);
                if (eventDescriptions_.empty()) {
                    FlushScheduledEvents(lock);
                    while (eventDescriptions_.empty())
                        eventAdded_.wait(lock);
                    // Whatever the clocks did while nothing was registered is no jump.
                    SetBaseline(clock_->UniversalTime(), steadyNow());
                    armedOffBaseline_ = false;
                    lastObservedOffset_ = clock_->UtcOffset(lastObservedTime_);
                }
            }
            boost::this_thread::sleep_for(
                boost::chrono::milliseconds(options_.checkPeriod.count()));

            const Time wall = clock_->UniversalTime();
            const std::chrono::nanoseconds steady = steadyNow();
            const std::int64_t wallProgress = (wall - lastObservedTime_).total_microseconds();
            const std::int64_t steadyProgress =
                duration_cast<microseconds>(steady - lastObservedSteady_).count();
            const std::int64_t difference = wallProgress - steadyProgress;
            // Two jumps between two checks may cancel out, yet a timer set between them
            // is off by the first one: that timer's arming raised the flag.
            const bool armedOffBaseline = armedOffBaseline_.exchange(false);
            if (armedOffBaseline ||
                std::llabs(difference) >
                    duration_cast<microseconds>(options_.jumpThreshold).count()) {
                const std::int64_t delta = difference / 1000000;
                SetBaseline(wall, steady);
                logger_.Detail() << "TimeObserverMain: the time delta is " << delta << " seconds";
                NotifyTimeChanged(delta);
            }

            const boost::posix_time::time_duration offset = clock_->UtcOffset(wall);
            if (offset != lastObservedOffset_) {
                lastObservedOffset_ = offset;
                logger_.Info() << "NotifyTimeChanged: The local UTC offset changed to " << offset
                               << "; re-planning local time events";
                ReplanOnTimerThread(true);
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

// The reported delta is not needed: cron events are planned afresh from the current time,
// and each sleep event measures how far the clock moved since its own timer was set.
void CTimeScheduler::NotifyTimeChanged(std::int64_t /*delta*/) {
    logger_.Info() << "NotifyTimeChanged: Processing time change notification";
    ReplanOnTimerThread(false);
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

std::int64_t CTimeScheduler::NoteArming() {
    const std::int64_t skew = ClockSkewUs();
    const std::int64_t threshold =
        std::chrono::duration_cast<std::chrono::microseconds>(options_.jumpThreshold).count();
    if (std::llabs(skew - baselineSkewUs_.load()) > threshold) armedOffBaseline_ = true;
    return skew;
}

void CTimeScheduler::SetBaseline(Time wall, std::chrono::nanoseconds steady) {
    lastObservedTime_ = wall;
    lastObservedSteady_ = steady;
    baselineSkewUs_ = SkewUs(wall, steady);
}

void CTimeScheduler::ReplanOnTimerThread(bool localEventsOnly) {
    const auto replan = [this, localEventsOnly] {
        Lock lock(eventMutex_);
        ReplanEvents(localEventsOnly);
    };
    if (ioContext_->get_executor().running_in_this_thread()) {
        replan();
        return;
    }
    std::packaged_task<void()> task(replan);
    auto done = task.get_future();
    boost::asio::post(*ioContext_, [&task] { task(); });
    done.get();
}

void CTimeScheduler::ReplanEvents(bool localEventsOnly) {
    // A snapshot: delivering an occurrence that is already due may erase an event.
    const std::vector<std::pair<std::uint64_t, DescPtr>> events(eventDescriptions_.begin(),
                                                                eventDescriptions_.end());
    std::vector<std::uint64_t> ended;
    for (const auto& [id, desc] : events) {
        const auto current = eventDescriptions_.find(id);
        if (!desc || current == eventDescriptions_.end() || current->second != desc) continue;
        try {
            if (desc->isSleepEvent) {
                if (!localEventsOnly) ShiftSleepEvent(id, *desc);
            } else if (!localEventsOnly || !desc->timeEvent.utclocal()) {
                ReplanCronEvent(id, *desc, !localEventsOnly, ended);
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
            found->second->timer->cancel();
        }
        logger_.Detail() << "NotifyTimeChanged : Event description map: erasing id: " << id;
        Erase(found);
    }
}

void CTimeScheduler::ShiftSleepEvent(std::uint64_t id, TimeEventDesc& desc) {
    // Only a clock set back moves a sleep: after a jump forward it ticks at its expiry.
    const std::int64_t movedUs = ClockSkewUs() - desc.armedSkewUs;
    if (movedUs >=
        -std::chrono::duration_cast<std::chrono::microseconds>(options_.jumpThreshold).count()) {
        return;
    }
    const Time expiry = desc.timer->expires_at() + boost::posix_time::seconds(movedUs / 1000000);
    if (desc.timer->expires_at(expiry) == 0) return;  // it has fired already
    desc.armedSkewUs = NoteArming();
    logger_.Info() << "Scheduling new sleeping time for event id:" << id
                   << ", new time:" << boost::posix_time::to_simple_string(expiry);
    desc.timer->async_wait(
        [this, id](const boost::system::error_code& error) { SleepEventHandler(error, id); });
}

void CTimeScheduler::ReplanCronEvent(std::uint64_t id, TimeEventDesc& desc, bool keepPendingTick,
                                     std::vector<std::uint64_t>& ended) {
    const Time previous = desc.nextOccurrence;
    const Time pendingExpiry = desc.timer->expires_at();
    desc.nextOccurrence = Time();
    Time next = GetNextOccurrence(desc);
    if (next.is_not_a_date_time()) {
        logger_.Info() << "NotifyTimeChanged: Erasing time event id: " << id;
        ended.push_back(id);
        return;
    }
    // After a jump, an occurrence whose (delayed) tick is still ahead keeps that tick rather
    // than being skipped or drawing its delay again. A new zone offset moves every tick.
    if (keepPendingTick && !previous.is_special() && !(next < previous) &&
        !pendingExpiry.is_special() && clock_->UniversalTime() < pendingExpiry) {
        desc.nextOccurrence = previous;
        return;
    }
    logger_.Info() << "NotifyTimeChanged: Adjusting next occurrence of time event id: " << id
                   << " to be at: " << boost::posix_time::to_simple_string(next);
    eventAdded_.notify_one();
    if (desc.timeEvent.has_delay()) next = PlanDelay(id, desc, next);
    if (!RegisterEventWithTimer(next, *desc.timer, id, desc.timeEvent.utclocal(), true,
                                DescribeEvent(desc))) {
        // Its completion is under way and plans from the occurrence it delivers.
        desc.nextOccurrence = previous;
        desc.timer->expires_at(pendingExpiry);
    }
}

}  // namespace Zent::Scheduler

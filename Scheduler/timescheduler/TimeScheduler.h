#pragma once

// The time scheduler: registered time events, their timers and ticks, sleep events, the
// queries over them, and the observer that re-plans everything when the wall clock jumps.
//
//     auto scheduler = std::make_shared<CTimeScheduler>(loggerBridge);
//     scheduler->AddTickHandler(tickHandler);
//     CCrontabParser parser;
//     auto crontab = std::make_shared<CCrontabScheduler>(parser.Parse("0 */5 * * * ?"));
//     TimeEvent event;                           // UTC, no limits
//     event.set_timespecification("0 */5 * * * ?");
//     event.set_utclocal(true);
//     scheduler->AddTab(crontab, event, userData, userContext);  // ticks every 5 minutes
//     scheduler->RegisterSleepEvent(30, otherUserData, userContext);  // ticks once, in 30 s
//
// Registrations are identified by their user data (IMessage::IsEqual): a new one replaces
// an older one with equal user data. Ticks are delivered on the "Scheduler::TimerService"
// thread; "Scheduler::TimeObserverMain" watches the wall clock against the steady clock.
// All operations are thread-safe. Times of an event are UTC or local time by its
// `utclocal` flag; timers always run in UTC.

#include <atomic>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <boost/thread/condition_variable.hpp>
#include <boost/thread/mutex.hpp>
#include <boost/thread/thread.hpp>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <utility>
#include <vector>

#include "Scheduler/crontab/CrontabParser.h"
#include "Scheduler/crontab/CrontabScheduler.h"
#include "Scheduler/timescheduler/Clock.h"
#include "Scheduler/timescheduler/ITickHandler.h"
#include "Scheduler/timescheduler/ITimeChangeObserver.h"
#include "Scheduler/timescheduler/TimeConversions.h"
#include "Scheduler/timescheduler/TimeSchedulerExceptions.h"
#include "common/kernel/IMessage.h"
#include "common/logging/LoggerBridge.h"
#include "common/security/UserContext.h"
#include "datadefinition/Scheduler.pb.h"

namespace Zent::Scheduler {

using Common::DataDefinition::Scheduler::TimeEvent;

class CTimeScheduler : public ITimeChangeObserver {
public:
    using MessagePtr = std::shared_ptr<Common::Kernel::IMessage>;
    using UserContextPtr = std::shared_ptr<Common::Security::CUserContext>;
    using Time = boost::posix_time::ptime;

    // The scheduler's record of one registered event.
    struct TimeEventDesc {
        std::shared_ptr<CCrontabScheduler> crontabScheduler;  // null for a sleep event
        TimeEvent timeEvent;  // as registered (empty for a sleep event)
        MessagePtr userData;
        UserContextPtr userContext;
        std::shared_ptr<DeadlineTimer> timer;
        Time nextOccurrence;  // event time base; not-a-date-time: plan from the start
        std::uint32_t tickCount = 0;
        bool isSleepEvent = false;
        std::uint32_t sleepSeconds = 0;
        // Wall minus steady clock, in microseconds, when a sleep event's timer was set: how
        // far the wall clock has moved since then tells how far to move its expiry.
        std::int64_t armedSkewUs = 0;
    };
    using DescPtr = std::shared_ptr<TimeEventDesc>;

    struct Options {
        std::chrono::milliseconds checkPeriod{std::chrono::seconds(10)};   // clock comparison
        std::chrono::milliseconds dumpPeriod{std::chrono::seconds(60)};    // event dump
        std::chrono::milliseconds jumpThreshold{std::chrono::seconds(3)};  // reported beyond
        std::function<std::uint32_t()> random;  // random delays; the OS's device when empty
    };

    // The most occurrences GetNextOccurrencesByUserData answers at once.
    static constexpr std::uint64_t kMaxOccurrencesPerQuery = 10000;

    // Starts the observer and timer-service threads. Throws std::runtime_error when the
    // clock cannot be read; no thread outlives a failed construction.
    explicit CTimeScheduler(const Common::Library::Logging::CLoggerBridge& parentLogger);
    CTimeScheduler(const Common::Library::Logging::CLoggerBridge& parentLogger, Options options);
    // Clears the events (cancelling their timers) and ends both threads. Must not run on
    // either of them.
    ~CTimeScheduler() override;

    CTimeScheduler(const CTimeScheduler&) = delete;
    CTimeScheduler& operator=(const CTimeScheduler&) = delete;

    void AddTickHandler(std::shared_ptr<ITickHandler> handler);
    // No tick is delivered from now on; there is no way back.
    void StopTicking();
    bool IsTicking() const;

    // Registers a cron event and arms its timer; replaces an older registration with equal
    // user data. `timeEvent` carries a start time one second before the requested one
    // (the registration path stores it so), and the event never ticks before the
    // requested start. All or nothing: every failure leaves the registry as it was.
    // Throws CCrontabNoEventException ("The event never occurs", "No next occurrence
    // event.", "User data is NULL"), CCrontabTimeInPastException, CCrontabValidationException
    // ("Delay greater than time inverval between ticks.") or a date error of the record.
    void AddTab(std::shared_ptr<CCrontabScheduler> crontabScheduler, const TimeEvent& timeEvent,
                MessagePtr userData, UserContextPtr userContext);
    // Removes the oldest registration with equal user data; nothing when none (or null).
    void DeleteTab(const MessagePtr& userData);
    // Registers a one-shot event that ticks `seconds` after the current whole second.
    // Throws CCrontabNoEventException "User data is NULL".
    void RegisterSleepEvent(std::uint32_t seconds, MessagePtr userData, UserContextPtr userContext);

    // Returns when the event will occur after its start and after now (both with 12 hours
    // of slack when asked); throws CCrontabNoEventException "The event never occurs" or
    // CCrontabTimeInPastException otherwise. A match exactly at the start counts.
    void ValidateTimeEvent(const CCrontabScheduler& crontabScheduler, const TimeEvent& timeEvent,
                           bool slack) const;
    // Whole seconds (capped at the int32 maximum) until the next tick of the cron event
    // registered with this very specification (as its requester sent it), and that tick's
    // UTC time in `nextTick`; 0 and not-a-date-time when none is registered. Throws
    // std::runtime_error "The time event is not unique!" when two are.
    std::int32_t GetRemainingTimeBySpec(const TimeEvent& timeEvent, Time& nextTick) const;
    // The same for the event registered with equal user data (sleep events too). Throws
    // CCrontabNoEventException "User data is NULL" or "User data not found.".
    std::int32_t GetRemainingTimeByUserData(const MessagePtr& userData, Time& nextTick) const;
    // Up to `count` (at most kMaxOccurrencesPerQuery) crontab matches strictly after
    // `from`, of the event registered with equal user data, ignoring its start, end, limit
    // and delay. Empty for null or unknown user data and for a sleep event.
    std::vector<Time> GetNextOccurrencesByUserData(const MessagePtr& userData, Time from,
                                                   std::uint64_t count) const;
    // The last tick (UTC) that registering `timeEvent` now would produce, delay included;
    // empty when it never stops ticking before the crontab's years run out. Throws the
    // parse error of its text, and std::runtime_error when the occurrence limit is 0 or
    // when no match lies between its start and its end. Any limit is counted in
    // microseconds: whole months and days at once, not match by match.
    std::optional<Time> GetLastTick(const TimeEvent& timeEvent) const;

    // Re-plans every event for a wall clock that moved by `delta` seconds. Cron events are
    // planned afresh from the current time; a sleep event whose timer was set before the
    // wall clock went back keeps its remaining time (it moves by what the clock measured
    // since then, so jumps that cancel out move it by nothing).
    void NotifyTimeChanged(std::int64_t delta) override;

    // How many events are registered.
    std::size_t EventCount() const;

private:
    using Lock = boost::unique_lock<boost::mutex>;
    using EventMap = std::map<std::uint64_t, DescPtr>;

    // Planning and arming (callers hold eventMutex_ unless noted).
    Time NowInEventBase(const TimeEvent& timeEvent) const;
    Time GetNextOccurrence(TimeEventDesc& desc) const;
    Time GetFollowingOccurrence(const TimeEventDesc& desc, Time t) const;
    Time ApplyDelay(std::int32_t delay, Time next, Time following) const;
    // `next` shifted by the event's random delay, or unshifted when the delay no longer
    // fits (logged).
    Time PlanDelay(std::uint64_t id, const TimeEventDesc& desc, Time next) const;
    Time LocalToUtc(Time t) const;
    // Arms `timer` for `next` (converted to UTC for a local event), or delivers at once
    // when `next` lies before the current second. With `logRearm`, a timer whose
    // completion is already under way is left alone and false is returned.
    bool RegisterEventWithTimer(Time next, DeadlineTimer& timer, std::uint64_t id, bool utcLocal,
                                bool logRearm, const std::string& description);
    void TimerHandler(const boost::system::error_code& error, std::uint64_t id);
    void ProcessTimerEvent(std::uint64_t id);
    void InvokeTickHandlers(const MessagePtr& userData, const UserContextPtr& userContext);

    void RegisterSleepEventWithTimer(std::uint32_t seconds, DeadlineTimer& timer, std::uint64_t id);
    void SleepEventHandler(const boost::system::error_code& error, std::uint64_t id);
    void ProcessSleepEvent(std::uint64_t id);

    // Stores a new event under the next id, replacing one with equal user data.
    std::uint64_t Insert(const DescPtr& desc);
    void FinadAndDeleteUserData(const MessagePtr& userData);
    // Cancels and erases the oldest event with equal user data, logging both steps.
    void Remove(const MessagePtr& userData, const char* cancelLine, const char* eraseLine);
    // Erases an event from the map and from the user data index.
    void Erase(EventMap::const_iterator it);
    // The event with equal user data and the lowest id; end() when none (or null).
    EventMap::const_iterator FindOldest(const MessagePtr& userData) const;
    void FlushScheduledEvents() const;
    DescPtr FindByUserData(const MessagePtr& userData) const;
    // Re-plans every event (or only the local-time cron events) after a clock change; the
    // caller holds eventMutex_.
    void ReplanEvents(bool localEventsOnly);
    // ReplanEvents under eventMutex_ on the timer-service thread, waiting for it there.
    // Re-armed timers then hand their cancelled waits to that thread's own queue instead
    // of waking it once per timer, and an occurrence found due ticks on the tick thread.
    void ReplanOnTimerThread(bool localEventsOnly);
    void ReplanCronEvent(std::uint64_t id, TimeEventDesc& desc, bool keepPendingTick,
                         std::vector<std::uint64_t>& ended);
    void ShiftSleepEvent(std::uint64_t id, TimeEventDesc& desc);
    // Wall minus steady clock now, in microseconds.
    std::int64_t ClockSkewUs() const;
    // Called whenever a timer is set: returns the current skew and raises armedOffBaseline_
    // when it differs from the observer's baseline by more than the jump threshold.
    std::int64_t NoteArming();
    // Moves the observer's baseline to the given readings of both clocks.
    void SetBaseline(Time wall, std::chrono::nanoseconds steady);
    void Validate(const CCrontabScheduler& crontabScheduler, const TimeEvent& timeEvent, bool slack,
                  bool storedStart) const;

    void TimerServiceMain();
    void TimeObserverMain();

    static std::string DescribeEvent(const TimeEventDesc& desc);

    Common::Library::Logging::CLoggerBridge logger_;
    Options options_;
    std::shared_ptr<IClock> clock_;

    Time lastObservedTime_;
    std::chrono::nanoseconds lastObservedSteady_{};
    boost::posix_time::time_duration lastObservedOffset_;
    // Wall minus steady clock at the observer's baseline. A timer armed while the clock
    // read otherwise (two jumps that cancel out between two checks) raises the flag, and
    // the next check re-plans although the net jump is nil.
    std::atomic<std::int64_t> baselineSkewUs_{0};
    std::atomic<bool> armedOffBaseline_{false};

    mutable boost::mutex eventMutex_;
    EventMap eventDescriptions_;
    // Every event as (hash of its user data, id), so that a lookup by user data compares
    // only the events whose user data hash alike, oldest first.
    std::set<std::pair<std::size_t, std::uint64_t>> idsByUserData_;
    boost::condition_variable eventAdded_;
    std::uint64_t lastEventId_ = 0;

    std::shared_ptr<boost::asio::io_context> ioContext_;
    std::unique_ptr<boost::asio::executor_work_guard<boost::asio::io_context::executor_type>>
        ioWork_;

    mutable boost::mutex tickHandlersMutex_;
    std::vector<std::shared_ptr<ITickHandler>> tickHandlers_;

    mutable boost::mutex tickingMutex_;
    bool ticking_ = true;

    mutable std::mutex parserMutex_;
    mutable CCrontabParser parser_;

    boost::thread observerThread_;
    boost::thread timerServiceThread_;
};

}  // namespace Zent::Scheduler

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
//
// The definitions, by concern: TimeScheduler.cpp (construction, threads, the registry),
// TimeSchedulerArming.cpp (planning, arming and firing of cron events),
// TimeSchedulerSleepEvents.cpp, TimeSchedulerQueries.cpp (validation and the queries) and
// TimeSchedulerReplan.cpp (the clock observer and the re-plan after a clock change). The
// bounds of every event (start, end, limit) are in EventLimits.h.

#include <atomic>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <boost/intrusive/set.hpp>
#include <boost/thread/condition_variable.hpp>
#include <boost/thread/mutex.hpp>
#include <boost/thread/thread.hpp>
#include <chrono>
#include <cstdint>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <optional>
#include <unordered_set>
#include <utility>
#include <vector>

#include "Scheduler/crontab/CronTabCache.h"
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

class CTimeScheduler : public ITimeChangeObserver {
public:
    using TimeEvent = Common::DataDefinition::Scheduler::TimeEvent;
    using MessagePtr = std::shared_ptr<Common::Kernel::IMessage>;
    using UserContextPtr = std::shared_ptr<Common::Security::CUserContext>;
    using Time = boost::posix_time::ptime;

    // Links an event into an index without a node of its own.
    using IndexHook = boost::intrusive::set_member_hook<boost::intrusive::optimize_size<true>>;

    // The scheduler's record of one registered event, one per event: its members leave no
    // padding between them, and those a re-plan reads for every event come first, so that
    // they share the fewest cache lines.
    struct TimeEventDesc {
        explicit TimeEventDesc(boost::asio::io_context& ioContext) : timer(ioContext) {}

        // A sleep event is the one kind of event without a crontab.
        bool IsSleepEvent() const { return !crontab.GetCronTab(); }

        DeadlineTimer timer;
        // A cron event's, in its time base; not-a-date-time: plan from the start. A sleep
        // event is due when the wall clock reaches its nextOccurrence (UTC, as registered)
        // or the steady clock reaches sleepDueSteady, whichever comes first.
        Time nextOccurrence;
        std::uint32_t tickCount = 0;
        std::uint32_t sleepSeconds = 0;
        // The crontab's compiled form is shared with every event of the same text.
        CCrontabScheduler crontab{nullptr};
        TimeEvent timeEvent;  // as registered (empty for a sleep event)
        std::chrono::nanoseconds sleepDueSteady{};
        MessagePtr userData;
        UserContextPtr userContext;
        // Index keys, set when the event is stored: its user data's GetHash, and the hash of
        // `timeEvent` serialized (cron events only).
        std::size_t userDataHash = 0;
        std::size_t specificationHash = 0;
        std::uint64_t id = 0;  // set when the event is stored
        IndexHook byUserData;
        IndexHook bySpecification;  // linked for cron events only
    };
    using DescPtr = std::shared_ptr<TimeEventDesc>;

    // How many events may be registered at once unless Options::maxEvents says otherwise.
    static constexpr std::size_t kDefaultMaxEvents = 1000000;

    struct Options {
        std::chrono::milliseconds checkPeriod{std::chrono::seconds(10)};   // clock comparison
        std::chrono::milliseconds dumpPeriod{std::chrono::seconds(60)};    // event dump
        std::chrono::milliseconds jumpThreshold{std::chrono::seconds(3)};  // reported beyond
        std::function<std::uint32_t()> random;      // random delays; the OS's device when empty
        std::size_t maxEvents = kDefaultMaxEvents;  // registered events (cron and sleep)
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
    // requested start. The event keeps a copy of `crontabScheduler`, which shares its
    // compiled crontab. All or nothing: every failure leaves the registry as it was.
    // Throws CCrontabNoEventException ("The event never occurs", "No next occurrence
    // event.", "User data is NULL"), CCrontabTimeInPastException, CCrontabValidationException
    // ("Delay greater than time inverval between ticks."), CCrontabEventLimitException
    // (Options::maxEvents events registered, none with equal user data) or a date error of
    // the record.
    void AddTab(std::shared_ptr<CCrontabScheduler> crontabScheduler, const TimeEvent& timeEvent,
                MessagePtr userData, UserContextPtr userContext);
    // Removes the oldest registration with equal user data; nothing when none (or null).
    void DeleteTab(const MessagePtr& userData);
    // Registers a one-shot event that ticks `seconds` after the current whole second.
    // Throws CCrontabNoEventException "User data is NULL", or CCrontabEventLimitException
    // as AddTab does.
    void RegisterSleepEvent(std::uint32_t seconds, MessagePtr userData, UserContextPtr userContext);

    // Returns when the event will occur after its start and after now (both with 12 hours
    // of slack when asked; a search that would begin before 1970 begins at 1970); throws
    // CCrontabNoEventException "The event never occurs" or CCrontabTimeInPastException
    // otherwise. A match exactly at the start counts.
    void ValidateTimeEvent(const CCrontabScheduler& crontabScheduler, const TimeEvent& timeEvent,
                           bool slack) const;
    // Whole seconds (capped at the int32 maximum) until the next tick of the cron event
    // registered with this very specification (as its requester sent it: an absent field
    // and a field set to its default differ), and that tick's UTC time in `nextTick`; 0 and
    // not-a-date-time when none is registered. Found through an index, without comparing
    // the other events. Throws std::runtime_error "Cannot serialize timeEvent to string"
    // for an incomplete record, and "The time event is not unique!" when two are registered.
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

    // Re-plans every event for a wall clock that moved by `delta` seconds; returns when
    // done. Cron events are planned afresh from the moment the walk starts, so an
    // occurrence that falls due during the walk is delivered once (late by the walk at
    // most). A pending tick not later than the fresh plan is kept, even one already due;
    // after a jump forward (`delta` > 0) only one due from the call on, the others lying
    // in the skipped span. A sleep event is set for its registered wall time or the end
    // of its steady duration, whichever is earlier. While the wall clock lies outside
    // 1970..2099 cron events wait, unarmed and registered, and a later re-plan inside
    // that range arms them again.
    void NotifyTimeChanged(std::int64_t delta) override;

    // How many events are registered.
    std::size_t EventCount() const;

private:
    using Lock = boost::unique_lock<boost::mutex>;
    using EventMap = std::map<std::uint64_t, DescPtr>;
    // An index orders events by one of their hashes, then by id, so that the events whose
    // key hashes alike are found together, oldest first.
    using IndexKey = std::pair<std::size_t, std::uint64_t>;
    struct UserDataKey {
        using type = IndexKey;
        type operator()(const TimeEventDesc& desc) const { return {desc.userDataHash, desc.id}; }
    };
    struct SpecificationKey {
        using type = IndexKey;
        type operator()(const TimeEventDesc& desc) const {
            return {desc.specificationHash, desc.id};
        }
    };
    template <IndexHook TimeEventDesc::*hook, typename Key>
    using Index =
        boost::intrusive::set<TimeEventDesc,
                              boost::intrusive::member_hook<TimeEventDesc, IndexHook, hook>,
                              boost::intrusive::key_of_value<Key>>;

    // Planning and arming (callers hold eventMutex_ unless noted).
    Time NowInEventBase(const TimeEvent& timeEvent) const;
    // The UTC instant `utc` in the event's time base.
    Time NowInEventBase(const TimeEvent& timeEvent, Time utc) const;
    // Plans relative to `nowUtc`, or to the clock read afresh at each step when it is
    // not-a-date-time.
    Time GetNextOccurrence(TimeEventDesc& desc, Time nowUtc = Time()) const;
    Time GetFollowingOccurrence(const TimeEventDesc& desc, Time t) const;
    Time ApplyDelay(std::int32_t delay, Time next, Time following) const;
    // `next` shifted by the event's random delay, or unshifted when the delay no longer
    // fits (logged).
    Time PlanDelay(std::uint64_t id, const TimeEventDesc& desc, Time next) const;
    Time LocalToUtc(Time t) const;
    // What an arming does with the wait that the timer may have under way.
    enum class Arming {
        Fresh,    // none to mind: a new or parked event, or one whose wait just completed
        Replace,  // a re-plan's: when its completion is queued already, it is left alone
    };
    // Arms `timer` for `next` (converted to UTC for a local event), or delivers at once
    // when `next` lies before the current second. With Arming::Replace, a timer whose
    // completion is already under way is left alone and false is returned. A re-plan
    // passes its `walkStart` as the current time and notes the arming once for the walk.
    bool RegisterEventWithTimer(Time next, TimeEventDesc& desc, std::uint64_t id, Arming arming,
                                Time walkStart = Time());
    void TimerHandler(const boost::system::error_code& error, std::uint64_t id);
    void ProcessTimerEvent(std::uint64_t id);
    // Calls every handler; what one throws is logged once and the others still run. A
    // thread interruption stops the delivery and leaves.
    void InvokeTickHandlers(std::uint64_t id, const MessagePtr& userData,
                            const UserContextPtr& userContext);

    // Sets the sleep's due times `seconds` from the current whole second and arms it.
    void RegisterSleepEventWithTimer(std::uint32_t seconds, TimeEventDesc& desc, std::uint64_t id);
    void SleepEventHandler(const boost::system::error_code& error, std::uint64_t id);
    void ProcessSleepEvent(std::uint64_t id);
    // Re-arms a sleep whose timer completed before it is due (the wall clock went forward
    // less than its whole interval); false when it is due or gone.
    bool RearmEarlySleep(std::uint64_t id);
    // When the sleep's timer should expire, seen from the given readings of both clocks.
    static Time SleepExpiry(const TimeEventDesc& desc, Time wall, std::chrono::nanoseconds steady);
    void ArmSleepTimer(std::uint64_t id, TimeEventDesc& desc, Time expiry);

    // Stores a new event under the next id, replacing one with equal user data. Throws
    // CCrontabEventLimitException, changing nothing, when the registry is full.
    std::uint64_t Insert(const DescPtr& desc);
    // Cancels and erases an event, logging both steps.
    void Remove(EventMap::const_iterator it, const char* cancelLine, const char* eraseLine);
    // Erases an event from both indexes and then from the map.
    void Erase(EventMap::const_iterator it);
    // The event with equal user data (whose GetHash is `hash`) and the lowest id; end()
    // when none (or null).
    EventMap::const_iterator FindOldest(const MessagePtr& userData, std::size_t hash) const;
    // Logs every registered event. The caller holds eventMutex_ through `lock`: it is
    // released while the lines are formatted and logged, taken only to copy a bounded
    // chunk of events at a time, and held again on return.
    void FlushScheduledEvents(Lock& lock) const;
    // A re-plan of every event (or only the local-time cron events) after a clock change,
    // from one reading of the clocks. It walks the events in ascending id order, a chunk at
    // a time (the local events of a zone change in one), on the timer-service thread and
    // under eventMutex_, which it releases between chunks so that due ticks and requests
    // are served meanwhile. Pending ticks due at or
    // after `keepFrom` are kept. Events registered after it began are planned already.
    struct Walk {
        bool localEventsOnly;
        Time keepFrom;
        Time start;  // the wall clock when it began
        std::chrono::nanoseconds steady;
        std::uint64_t nextId;  // the first id not walked yet
        std::uint64_t lastId;  // the last id registered when it began
        // Events not walked yet whose timer completed meanwhile: that completion planned
        // them from `start` already, so the walk leaves them alone (planning them again
        // would deliver once more what they delivered since).
        std::unordered_set<std::uint64_t> plannedEarly;
    };
    static constexpr std::size_t kReplanChunk = 4096;
    // Starts a walk (replacing one under way, which the new one covers); the caller holds
    // eventMutex_.
    void BeginWalk(bool localEventsOnly, Time keepFrom);
    // Walks the next chunk; true, with walk_ reset, when the walk is done. The caller holds
    // eventMutex_ on the timer-service thread.
    bool ReplanChunk();
    // Runs the walk's next chunk and posts the one after it, or fulfils `done`.
    void ContinueWalk(const std::shared_ptr<std::promise<void>>& done);
    // Whether the walk under way will still re-plan this event; its timer's completion then
    // plans from the walk's start instead, and the walk passes it by.
    bool AwaitsWalk(std::uint64_t id) const;
    // A walk on the timer-service thread, returning when it is done. Re-armed timers hand
    // their cancelled waits to that thread's own queue instead of waking it once per timer,
    // and an occurrence found due ticks on the tick thread. One walk at a time.
    void ReplanOnTimerThread(bool localEventsOnly, Time keepFrom);
    void ReplanCronEvent(std::uint64_t id, TimeEventDesc& desc, bool keepPendingTick,
                         Time walkStart, Time keepFrom, std::vector<std::uint64_t>& ended);
    void ShiftSleepEvent(std::uint64_t id, TimeEventDesc& desc, Time wall,
                         std::chrono::nanoseconds steady);
    // A time as boost::posix_time::to_simple_string writes it, formatted only when the log
    // line that holds it is built: a re-plan's detail lines are mostly dropped unbuilt.
    struct LogTime {
        Time time;
    };
    friend std::ostream& operator<<(std::ostream& out, const LogTime& time);
    // The description of an event that DescribeEvent returns, likewise built only when the
    // line is: a tick would otherwise build one whatever the log level.
    struct LogDescription {
        const TimeEventDesc& desc;
    };
    friend std::ostream& operator<<(std::ostream& out, const LogDescription& description);
    // Whether `utc` lies in 1970..2099, the years the crontabs cover.
    static bool WallClockInRange(Time utc);
    // Leaves a cron event registered but unarmed, to be planned afresh by the next re-plan
    // inside 1970..2099.
    void ParkCronEvent(TimeEventDesc& desc, Time wall);
    // Makes the timer thread's reactor read every expiry again; after a re-plan that kept
    // timers, its wake-up may still be set for the wall clock before the change.
    void WakeTimerQueue();
    // Wall minus steady clock now, in microseconds.
    std::int64_t ClockSkewUs() const;
    // Whether the skew now differs from the observer's baseline by more than the jump
    // threshold.
    bool SkewOffBaseline() const;
    // Called whenever a timer is set: raises armedOffBaseline_ when SkewOffBaseline.
    void NoteArming();
    // Keeps the clock readings taken before planning the first event of an empty registry
    // (the observer's baseline when it wakes); under eventMutex_.
    void NoteFirstPlanning(Time wall, std::chrono::nanoseconds steady);
    // Moves the observer's baseline to the given readings of both clocks.
    void SetBaseline(Time wall, std::chrono::nanoseconds steady);
    // Whether the checks allow for any zone: twelve hours of slack on the start and on now.
    enum class ZoneSlack { None, TwelveHours };
    // Whether the record's start is the one requested or the one a registration stores
    // (WithStoredStart).
    enum class StartRecord { Requested, Stored };
    void Validate(const CCrontabScheduler& crontabScheduler, const TimeEvent& timeEvent,
                  ZoneSlack slack, StartRecord startRecord) const;

    void TimerServiceMain();
    void TimeObserverMain();

    static std::string DescribeEvent(const TimeEventDesc& desc);

    Common::Library::Logging::CLoggerBridge logger_;
    Options options_;
    std::shared_ptr<IClock> clock_;

    Time lastObservedTime_;
    std::chrono::nanoseconds lastObservedSteady_{};
    boost::posix_time::time_duration lastObservedOffset_;
    // Guarded by eventMutex_; see NoteFirstPlanning.
    Time firstPlannedWall_;
    std::chrono::nanoseconds firstPlannedSteady_{};
    // Wall minus steady clock at the observer's baseline. A timer armed while the clock
    // read otherwise (two jumps that cancel out between two checks) raises the flag, and
    // the next check re-plans although the net jump is nil.
    std::atomic<std::int64_t> baselineSkewUs_{0};
    std::atomic<bool> armedOffBaseline_{false};
    // Cron events wait unarmed for the wall clock to come back into 1970..2099.
    std::atomic<bool> clockOutOfRange_{false};

    mutable boost::mutex eventMutex_;
    EventMap eventDescriptions_;
    // Every event by the hash of its user data, so that a lookup by user data compares
    // only the events whose user data hash alike. The events are linked, not owned: each
    // leaves both indexes before it leaves the map.
    Index<&TimeEventDesc::byUserData, UserDataKey> eventsByUserData_;
    // Every cron event by the hash of its serialized time event, for the same purpose.
    Index<&TimeEventDesc::bySpecification, SpecificationKey> eventsBySpecification_;
    boost::condition_variable eventAdded_;
    std::uint64_t lastEventId_ = 0;
    // Events whose timer completion was already queued when a re-plan reached them, with
    // the walk's start: that completion plans from there, not from the clock as it reads
    // when it finally runs, so an occurrence that fell due during the walk is kept.
    std::map<std::uint64_t, Time> plansFromWalk_;
    std::optional<Walk> walk_;
    boost::mutex replanMutex_;  // one walk at a time

    std::shared_ptr<boost::asio::io_context> ioContext_;
    std::unique_ptr<boost::asio::executor_work_guard<boost::asio::io_context::executor_type>>
        ioWork_;
    std::unique_ptr<DeadlineTimer> wakeTimer_;  // see WakeTimerQueue

    mutable boost::mutex tickHandlersMutex_;
    std::vector<std::shared_ptr<ITickHandler>> tickHandlers_;

    mutable boost::mutex tickingMutex_;
    bool ticking_ = true;

    // The texts that GetLastTick compiles, kept while they are asked again.
    mutable CCronTabCache crontabs_;

    boost::thread observerThread_;
    boost::thread timerServiceThread_;
};

}  // namespace Zent::Scheduler

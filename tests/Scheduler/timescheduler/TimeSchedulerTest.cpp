// The time scheduler against a clock the tests move: ticks, limits, replacement, sleep
// events, delays, local time, clock jumps, queries and the dump.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <boost/date_time/posix_time/posix_time.hpp>
#include <chrono>
#include <functional>
#include <future>
#include <map>
#include <new>
#include <set>
#include <thread>

#include "Scheduler/crontab/CrontabParser.h"
#include "Scheduler/crontab/CrontabValidationException.h"
#include "Scheduler/timescheduler/TimeScheduler.h"
#include "tests/support/RecordingLogger.h"
#include "tests/support/RecordingTickHandler.h"
#include "tests/support/TextMessage.h"

namespace Zent::Scheduler {
namespace {

using namespace Zent::Testing;
using namespace std::chrono_literals;
using boost::posix_time::hours;
using boost::posix_time::milliseconds;
using boost::posix_time::minutes;
using boost::posix_time::ptime;
using boost::posix_time::seconds;
using boost::posix_time::time_from_string;
using TimeEvent = Common::DataDefinition::Scheduler::TimeEvent;
using UTCTime = Common::DataDefinition::Common::UTCTime;

ptime T(const std::string& text) {
    return time_from_string(text);
}
// A time event; start and end are UTC texts ("": none), an occurrence limit below 0 is none.
TimeEvent Event(const std::string& text, bool utc = true, const std::string& start = "",
                const std::string& end = "", std::int64_t occurrences = -1, int delay = 0) {
    TimeEvent event;
    event.set_timespecification(text);
    event.set_utclocal(utc);
    if (!start.empty()) *event.mutable_starttime() = ToUtcTime(T(start));
    if (!end.empty()) *event.mutable_range()->mutable_rangedefinitionendtime() = ToUtcTime(T(end));
    if (occurrences >= 0) {
        event.mutable_range()->set_rangedefinitionoccurences(
            static_cast<std::uint32_t>(occurrences));
    }
    if (delay != 0) event.set_delay(delay);
    return event;
}
std::shared_ptr<CTextMessage> Data(const std::string& text) {
    return std::make_shared<CTextMessage>(text);
}
ptime WholeSecond(ptime t) {
    return ptime(t.date(), seconds(t.time_of_day().total_seconds()));
}
// The text of the runtime error `call` throws; "nothing thrown" when it returns.
std::string Failure(const std::function<void()>& call) {
    try {
        call();
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "nothing thrown";
}

// Calls a function at every tick.
class CCallingTickHandler : public ITickHandler {
public:
    explicit CCallingTickHandler(std::function<void()> call) : call_(std::move(call)) {}
    void OnTick(std::shared_ptr<Common::Kernel::IMessage>,
                std::shared_ptr<Common::Security::CUserContext>) override {
        call_();
    }

private:
    std::function<void()> call_;
};

// A clock that stands still until it is set, wall and steady time alike, so that it can
// read exactly a whole second whenever the scheduler looks.
class CStoppedClock : public IClock {
public:
    explicit CStoppedClock(ptime wall) : wall_(wall) {}
    ptime UniversalTime() const override { return wall_; }
    boost::posix_time::time_duration UtcOffset(ptime) const override { return {}; }
    std::chrono::nanoseconds SteadyTime() const override { return {}; }
    std::unique_ptr<IWallClockWatch> WatchWallClock() const override {
        return watched_.WatchWallClock();
    }
    // Sets the wall clock (the steady clock stays) and wakes the watches.
    void Set(ptime wall) {
        wall_ = wall;
        watched_.Jump(seconds(0));
    }

private:
    std::atomic<ptime> wall_;
    CAdjustableClock watched_;  // lends its watches
};

// A scheduler on an adjustable clock, with short observer periods.
class TimeSchedulerTest : public ::testing::Test {
protected:
    void SetUp() override { Create({}); }

    void Create(CTimeScheduler::Options options) {
        scheduler.reset();
        logger = std::make_shared<CRecordingLogger>();
        if (options.checkPeriod == std::chrono::seconds(10)) options.checkPeriod = 100ms;
        if (options.dumpPeriod == std::chrono::seconds(60)) options.dumpPeriod = 1h;
        auto stream = [this](std::int32_t level) {
            return [logger = logger, level] {
                return Products::Common::Zent::TraceLog::CLogStream(logger, level,
                                                                    "SchedulerModule");
            };
        };
        const Common::Library::Logging::CLoggerBridge bridge(stream(2), stream(1), stream(4));
        scheduler = std::make_unique<CTimeScheduler>(bridge, std::move(options));
        scheduler->AddTickHandler(ticks);
    }
    // Moves the wall clock so that it reads `target` now; a running scheduler sees a jump.
    void SetNow(ptime target) { clock->Jump(target - clock->UniversalTime()); }
    // A new scheduler on a clock that reads `target` now.
    void StartAt(ptime target, CTimeScheduler::Options options = {}) {
        SetNow(target);
        Create(std::move(options));
    }
    // A new scheduler on a clock moved to 100 ms past the next whole second, returned.
    ptime StartAlignedToSecond() {
        const ptime second = WholeSecond(clock->UniversalTime()) + seconds(1);
        StartAt(second + milliseconds(100));
        return second;
    }
    void SleepUntil(ptime target) {
        const auto left = (target - clock->UniversalTime()).total_microseconds();
        if (left > 0) std::this_thread::sleep_for(std::chrono::microseconds(left));
    }
    std::shared_ptr<CCrontabScheduler> Crontab(const std::string& text) {
        return std::make_shared<CCrontabScheduler>(parser.Parse(text));
    }
    void Add(const TimeEvent& event, const std::string& data,
             std::shared_ptr<Common::Security::CUserContext> context = nullptr) {
        scheduler->AddTab(Crontab(event.timespecification()), event, Data(data),
                          std::move(context));
    }
    ptime NextTick(const std::string& data) {
        ptime next;
        scheduler->GetRemainingTimeByUserData(Data(data), next);
        return next;
    }

    std::shared_ptr<CAdjustableClock> clock = std::make_shared<CAdjustableClock>();
    ScopedClock useClock_{clock};  // outlives the scheduler
    std::shared_ptr<CRecordingLogger> logger;
    std::shared_ptr<CRecordingTickHandler> ticks = std::make_shared<CRecordingTickHandler>();
    CCrontabParser parser;
    std::unique_ptr<CTimeScheduler> scheduler;
};

// Each tick reaches every handler; what one throws is logged once and stops nothing.
TEST_F(TimeSchedulerTest, EverySecondEventsTickOnTheSecondUpToTheirLimitOrEndUntilStopped) {
    const ptime first = StartAlignedToSecond() + seconds(1);
    const std::pair<std::function<void()>, std::string> throwers[] = {
        {[] { throw std::runtime_error("the line is down"); }, "the line is down"},
        {[] { throw std::bad_alloc(); }, "std::bad_alloc"},
        {[] { throw 7; }, "unknown exception"},
    };
    for (const auto& [raise, reason] : throwers)
        scheduler->AddTickHandler(std::make_shared<CCallingTickHandler>(raise));
    auto context = std::make_shared<Common::Security::CUserContext>();
    Add(Event("* * * * * ?"), "every", context);
    Add(Event("* * * * * ?", true, "", "", 3), "three");
    TimeEvent ends = Event("* * * * * ?");  // an end on an occurrence still ticks it
    *ends.mutable_range()->mutable_rangedefinitionendtime() = ToUtcTime(first + seconds(1));
    Add(ends, "ends");
    SleepUntil(first + milliseconds(3500));
    scheduler->StopTicking();
    const auto delivered = ticks->Ticks();
    std::this_thread::sleep_for(1200ms);
    EXPECT_EQ(ticks->Ticks().size(), delivered.size());
    EXPECT_FALSE(scheduler->IsTicking());

    std::map<std::string, std::vector<ptime>> at;
    for (const Tick& tick : delivered) {
        at[tick.userData].push_back(WholeSecond(tick.at));
        EXPECT_LT(tick.at.time_of_day().fractional_seconds(), 200000) << tick.at;
        EXPECT_EQ(tick.context, tick.userData == "Text:every" ? context : nullptr);
    }
    std::vector<ptime> expected{first, first + seconds(1), first + seconds(2), first + seconds(3)};
    EXPECT_EQ(at["Text:every"], expected);
    expected.pop_back();
    EXPECT_EQ(at["Text:three"], expected);
    expected.pop_back();
    EXPECT_EQ(at["Text:ends"], expected);
    EXPECT_EQ(scheduler->EventCount(), 1u);
    for (const auto& [raise, reason] : throwers) {
        std::size_t failures = 0;
        for (const auto& line : logger->Containing("a tick handler failed for id: "))
            failures += line.text.ends_with(": " + reason) && line.level == 4;
        EXPECT_EQ(failures, delivered.size()) << reason;
    }
}

// The clock stands exactly on the second of an occurrence: it is due now, not past.
TEST_F(TimeSchedulerTest, AnOccurrenceInTheSecondTheClockStandsOnTicksInIt) {
    const auto stopped = std::make_shared<CStoppedClock>(T("2031-01-01 12:00:00"));
    ScopedClock useStopped(stopped);
    Create({});
    EXPECT_EQ(scheduler->GetLastTick(Event("0 * * * * ?", true, "", "", 1)),
              T("2031-01-01 12:00:00"));
    // The timer delivers it; the registering call does not.
    auto onRegisteringThread = std::make_shared<std::atomic<int>>(0);
    scheduler->AddTickHandler(std::make_shared<CCallingTickHandler>(
        [onRegisteringThread, registering = std::this_thread::get_id()] {
            *onRegisteringThread += std::this_thread::get_id() == registering;
        }));
    scheduler->RegisterSleepEvent(60, Data("nap"), nullptr);
    Add(Event("0 * * * * ?"), "minutely");
    ASSERT_TRUE(ticks->WaitFor(1, 2s));
    ptime next;
    EXPECT_EQ(scheduler->GetRemainingTimeByUserData(Data("minutely"), next), 60);
    EXPECT_EQ(next, T("2031-01-01 12:01:00"));
    // The sleep is due when the wall clock reads its due time exactly.
    stopped->Set(T("2031-01-01 12:01:00"));
    ASSERT_TRUE(ticks->WaitFor(3, 2s));
    std::this_thread::sleep_for(200ms);
    std::set<std::pair<std::string, ptime>> delivered;
    for (const Tick& tick : ticks->Ticks())
        delivered.emplace(tick.userData, tick.at);
    EXPECT_EQ(delivered,
              (std::set<std::pair<std::string, ptime>>{{"Text:minutely", T("2031-01-01 12:00:00")},
                                                       {"Text:minutely", T("2031-01-01 12:01:00")},
                                                       {"Text:nap", T("2031-01-01 12:01:00")}}));
    EXPECT_EQ(ticks->Ticks().size(), 3u);
    EXPECT_EQ(*onRegisteringThread, 0);
    scheduler.reset();  // before its clock goes
}

// The first tick at given clock times; the remaining time counts whole seconds from the
// current one. Registrations keep their start one second before the requested one.
TEST_F(TimeSchedulerTest, TheFirstTickIsPlannedFromTheClockAndTheStart) {
    struct Case {
        const char* now;
        int utcOffsetHours;
        const char* text;
        bool utc;
        const char* storedStart;  // "": none
        const char* expected;
        std::int32_t remaining;
    };
    const Case cases[] = {
        // missed occurrences of a start in the past are skipped
        {"2031-06-10 12:20:30", 0, "0 0 * * * ?", true, "2031-06-08 11:59:59",
         "2031-06-10 13:00:00", 2370},
        // a match exactly at the requested start counts
        {"2030-05-01 09:59:58.600", 0, "0 0 10 1 5 ? 2030", true, "2030-05-01 09:59:59",
         "2030-05-01 10:00:00", 2},
        {"2031-03-03 08:00:00.250", 2, "0 0 12 * * ?", false, "", "2031-03-03 10:00:00", 7200},
        {"2031-01-01 10:00:00.900", 0, "30 0 10 * * ?", true, "", "2031-01-01 10:00:30", 30},
        // a start before 1970 plans from now on
        {"2031-01-01 10:00:00", 0, "0 0 0 1 1 ?", true, "1969-06-01 00:00:00",
         "2032-01-01 00:00:00", 31500000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.now);
        clock->SetUtcOffset(hours(c.utcOffsetHours));
        StartAt(T(c.now));
        const TimeEvent event = Event(c.text, c.utc, c.storedStart);
        Add(event, "planned");
        ptime next;
        EXPECT_EQ(scheduler->GetRemainingTimeByUserData(Data("planned"), next), c.remaining);
        EXPECT_EQ(next, T(c.expected));
        TimeEvent sent = event;  // as its requester sent it
        if (*c.storedStart) *sent.mutable_starttime() = ToUtcTime(T(c.storedStart) + seconds(1));
        EXPECT_EQ(scheduler->GetRemainingTimeBySpec(sent, next), c.remaining);
        EXPECT_EQ(next, T(c.expected));
    }
    EXPECT_TRUE(ticks->Ticks().empty());
}

TEST_F(TimeSchedulerTest, EqualUserDataReplacesTheOlderRegistration) {
    StartAt(T("2031-01-01 00:00:10"));
    Add(Event("0 0 * * * ?"), "same");
    Add(Event("0 30 * * * ?"), "same");
    scheduler->RegisterSleepEvent(600, Data("nap"), nullptr);
    scheduler->RegisterSleepEvent(1, Data("nap"), nullptr);
    EXPECT_EQ(scheduler->EventCount(), 2u);
    EXPECT_EQ(NextTick("same"), T("2031-01-01 00:30:00"));
    EXPECT_EQ(NextTick("nap"), T("2031-01-01 00:00:11"));
    ASSERT_TRUE(ticks->WaitFor(1, 3s));
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(ticks->Ticks().size(), 1u);  // a sleep ticks once
    EXPECT_EQ(scheduler->EventCount(), 1u);

    // User data that hash alike yet differ are told apart.
    const auto colliding = [](const std::string& text) {
        return std::make_shared<CTextMessage>(text, 7);
    };
    scheduler->AddTab(Crontab("0 10 * * * ?"), Event("0 10 * * * ?"), colliding("a"), nullptr);
    scheduler->AddTab(Crontab("0 20 * * * ?"), Event("0 20 * * * ?"), colliding("b"), nullptr);
    scheduler->DeleteTab(colliding("b"));
    ptime next;
    scheduler->GetRemainingTimeByUserData(colliding("a"), next);
    EXPECT_EQ(next, T("2031-01-01 00:10:00"));
    EXPECT_THROW(scheduler->GetRemainingTimeByUserData(colliding("b"), next),
                 CCrontabNoEventException);
}

TEST_F(TimeSchedulerTest, RefusedRegistrationsChangeNothingAndUseNoId) {
    CTimeScheduler::Options options;
    options.maxEvents = 2;
    StartAt(T("2031-01-01 00:00:10"), options);
    Add(Event("0 0 * * * ?"), "kept");
    const std::pair<std::function<void()>, std::string> cases[] = {
        {[&] { Add(Event("0 0 0 1 1 ? 2030", true, "2029-06-01 00:00:00"), "kept"); },
         "Events are in the past"},
        {[&] { Add(Event("0 0 * * * ?", true, "", "2030-01-01 00:00:00"), "kept"); },
         "The event never occurs"},
        {[&] { Add(Event("0 0 * * * ?", true, "", "", 0), "kept"); }, "No next occurrence event."},
        {[&] { Add(Event("0 0 * * * ?", true, "", "", -1, 7200), "kept"); },
         "Delay greater than time inverval between ticks."},
        {[&] { scheduler->AddTab(Crontab("0 0 * * * ?"), Event("0 0 * * * ?"), nullptr, {}); },
         "User data is NULL"},
        {[&] { scheduler->RegisterSleepEvent(1, nullptr, nullptr); }, "User data is NULL"},
        {[&] { scheduler->RegisterSleepEvent(600, Data("nap"), nullptr); }, ""},
        // the registry is full now
        {[&] { Add(Event("0 0 * * * ?"), "third"); }, "Too many registered events: the limit is 2"},
        {[&] { scheduler->RegisterSleepEvent(5, Data("third"), nullptr); },
         "Too many registered events: the limit is 2"},
    };
    for (const auto& [call, text] : cases) {
        EXPECT_EQ(Failure(call), text.empty() ? "nothing thrown" : text);
        EXPECT_EQ(NextTick("kept"), T("2031-01-01 01:00:00")) << text;
    }
    // Replacing needs no room; the refusals used no id.
    Add(Event("0 30 * * * ?"), "kept");
    EXPECT_EQ(logger->Containing("next occurance of id: 3 at").size(), 1u);
    scheduler->RegisterSleepEvent(60, Data("nap"), nullptr);
    EXPECT_EQ(scheduler->EventCount(), 2u);
    EXPECT_EQ(NextTick("kept"), T("2031-01-01 00:30:00"));
    EXPECT_EQ(NextTick("nap"), T("2031-01-01 00:01:10"));
}

TEST_F(TimeSchedulerTest, ARandomDelayStaysInsideItsWindowAndSpreads) {
    StartAt(T("2031-01-01 10:10:00"));
    const TimeEvent event = Event("0 0 * * * ?", true, "", "", -1, 300);
    std::set<long> offsets;
    for (int draw = 0; draw < 100; ++draw) {
        Add(event, "spread");
        const long offset = (NextTick("spread") - T("2031-01-01 11:00:00")).total_seconds();
        ASSERT_GE(offset, 0);
        ASSERT_LT(offset, 300);
        offsets.insert(offset);
    }
    EXPECT_GT(offsets.size(), 50u);
}

TEST_F(TimeSchedulerTest, ZoneChangesAndJumpsForwardReplanForTheNewTime) {
    clock->SetUtcOffset(hours(2));
    StartAt(T("2031-03-03 08:00:10"));
    std::this_thread::sleep_for(100ms);  // the observer waits for a first event
    Add(Event("0 0 12 * * ?", false), "noon");
    Add(Event("0 0 12 * * ?", true), "utc-noon");
    Add(Event("0 * * * * ?"), "minutely");
    std::this_thread::sleep_for(200ms);  // the observer has left its idle wait
    clock->SetUtcOffset(hours(3));
    std::this_thread::sleep_for(400ms);
    EXPECT_EQ(NextTick("noon"), T("2031-03-03 09:00:00"));
    EXPECT_EQ(NextTick("utc-noon"), T("2031-03-03 12:00:00"));
    EXPECT_EQ(NextTick("minutely"), T("2031-03-03 08:01:00"));
    clock->Jump(hours(2));
    std::this_thread::sleep_for(400ms);
    EXPECT_EQ(NextTick("minutely"), T("2031-03-03 10:01:00"));
    EXPECT_EQ(NextTick("noon"), T("2031-03-04 09:00:00"));
    EXPECT_EQ(logger->Containing("the time delta is ").size(), 1u);
    EXPECT_TRUE(ticks->Ticks().empty());
}

// A sleep ticks when the wall clock reaches its registered due time or when its interval
// has passed on the steady clock, whichever comes first.
TEST_F(TimeSchedulerTest, ASleepEventTicksAtItsWallTimeOrAfterItsIntervalWhicheverIsFirst) {
    struct Case {
        std::vector<boost::posix_time::time_duration> jumps;  // 200 ms after one another
        std::chrono::milliseconds earliest, latest;           // of the tick, from registration
    };
    const Case cases[] = {
        {{-hours(1)}, 1500ms, 3500ms},
        {{-hours(1), hours(1)}, 1500ms, 3500ms},
        {{-hours(2), minutes(10)}, 1500ms, 3500ms},
        {{hours(1)}, 0ms, 1000ms},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(&c - cases);
        ticks = std::make_shared<CRecordingTickHandler>();
        StartAlignedToSecond();
        const auto started = std::chrono::steady_clock::now();
        scheduler->RegisterSleepEvent(2, Data("nap"), nullptr);
        for (const auto& jump : c.jumps) {
            std::this_thread::sleep_for(200ms);  // the observer has dealt with the last one
            clock->Jump(jump);
        }
        ASSERT_TRUE(ticks->WaitFor(1, 4s));
        const auto waited = std::chrono::steady_clock::now() - started;
        EXPECT_GE(waited, c.earliest);
        EXPECT_LT(waited, c.latest);
    }
}

// The observer is woken by the setting of the clock itself: its periodic check is an
// hour away here.
TEST_F(TimeSchedulerTest, AJumpBackRedeliversAnOccurrence) {
    CTimeScheduler::Options options;
    options.checkPeriod = 1h;
    StartAt(T("2031-01-01 13:59:59.500"), options);
    Add(Event("0 0 * * * ?"), "hourly");
    ASSERT_TRUE(ticks->WaitFor(1, 2s));
    clock->Jump(-seconds(5));
    ASSERT_TRUE(ticks->WaitFor(2, 7s));
    for (const Tick& tick : ticks->Ticks())
        EXPECT_EQ(WholeSecond(tick.at), T("2031-01-01 14:00:00"));
}

// A re-plan that starts 20 ms before the second in which 10,000 every-second events are
// due, on each of its paths: each event ticks in that second and in the next, once each
// (their end time makes those their only occurrences). The walk takes longer than that in
// a debug build, a chunk of events at a time; the margin is for the observer's wake-up on
// a loaded machine.
enum class ReplanPath { Jump, SkewFlag, ZoneOffset };

class ReplanAcrossASecondTest : public TimeSchedulerTest,
                                public ::testing::WithParamInterface<ReplanPath> {};

TEST_P(ReplanAcrossASecondTest, DeliversEveryOccurrenceOnce) {
#if defined(__SANITIZE_THREAD__)
    constexpr int kEvents = 2500;  // ThreadSanitizer's tick thread cannot tick 10,000 a second
#else
    constexpr int kEvents = 10000;
#endif
    const ReplanPath path = GetParam();
    const ptime first = T("2031-05-06 10:00:00");
    // The jump and the new zone offset each bring the first second an hour nearer; the
    // re-plan crosses `first` on the clock as it reads then, or in UTC that of local `first`.
    const ptime trigger = path == ReplanPath::SkewFlag ? first : first - hours(1);
    const ptime crossed = path == ReplanPath::ZoneOffset ? trigger : first;
    const std::string request = path == ReplanPath::ZoneOffset
                                    ? "The local UTC offset changed"
                                    : "Processing time change notification";
    // A run whose observer asked for the re-plan, or whose walk began, only after the second
    // began (a busy machine) says nothing: it is tried again.
    for (int attempt = 0; attempt < 3; ++attempt) {
        CTimeScheduler::Options options;
        options.checkPeriod = 1h;  // only the settings of the clock wake the observer
        clock->SetUtcOffset(hours(0));
        ticks = std::make_shared<CRecordingTickHandler>();
        StartAt(T("2031-05-05 10:00:00"), options);
        logger->SetMinimumLevel(2);
        // Stored one second early.
        const TimeEvent event = Event("* * * * * ?", path != ReplanPath::ZoneOffset,
                                      "2031-05-06 09:59:59", "2031-05-06 10:00:01");
        const auto crontab = Crontab("* * * * * ?");
        for (int i = 0; i < kEvents; ++i)
            scheduler->AddTab(crontab, event, Data(std::to_string(i)), nullptr);
        SetNow(trigger - milliseconds(500));  // re-planned, all ticks kept
        SleepUntil(trigger - milliseconds(20));
        std::atomic<bool> late = false, walked = false;
        logger->OnLine([&](const std::string& text) {
            const bool walkLine = text.find("time event id: ") != std::string::npos;
            if (text.find(request) != std::string::npos || (walkLine && !walked.exchange(true))) {
                late = late || !(CurrentClock()->UniversalTime() < crossed);
            }
        });
        switch (path) {
            case ReplanPath::Jump:
                clock->Jump(hours(1));
                break;
            case ReplanPath::ZoneOffset:
                clock->SetUtcOffset(hours(1));
                break;
            case ReplanPath::SkewFlag:
                // Two settings that cancel out, unseen, with a timer armed between them; then
                // the observer's usual check, which finds no net jump.
                clock->Jump(hours(1), false);
                Add(Event("0 0 0 1 1 ? 2099"), "armed off the baseline");
                clock->Jump(-hours(1), false);
                clock->Jump(seconds(0));
                break;
        }
        // Each event is erased after its last occurrence, delivered or skipped.
        const std::size_t remaining = path == ReplanPath::SkewFlag ? 1 : 0;
        const auto deadline = std::chrono::steady_clock::now() + 30s;
        while (scheduler->EventCount() > remaining && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(20ms);
        std::this_thread::sleep_for(300ms);  // a doubled tick would come now
        scheduler.reset();                   // its threads call the hook above
        if (late) continue;
        std::map<std::string, int> perEvent;
        for (const Tick& tick : ticks->Ticks())
            ++perEvent[tick.userData];
        int wrong = 0;
        for (int i = 0; i < kEvents; ++i)
            wrong += perEvent["Text:" + std::to_string(i)] != 2;
        EXPECT_EQ(wrong, 0);
        return;
    }
    GTEST_SKIP() << "the observer woke too late three times";
}

INSTANTIATE_TEST_SUITE_P(EachPath, ReplanAcrossASecondTest,
                         ::testing::Values(ReplanPath::Jump, ReplanPath::SkewFlag,
                                           ReplanPath::ZoneOffset));

TEST_F(TimeSchedulerTest, AWallClockOutsideTheSupportedYearsNeverErasesARegistration) {
    for (const char* outside : {"2106-02-07 06:28:15", "1966-06-01 12:00:00"}) {
        SCOPED_TRACE(outside);
        ticks = std::make_shared<CRecordingTickHandler>();
        StartAt(T("2031-01-01 10:00:00.100"));
        Add(Event("* * * * * ?"), "every second");
        Add(Event("0 0 * * * ?"), "hourly");
        Add(Event("0 0 12 * * ?", false), "local noon");
        scheduler->RegisterSleepEvent(600, Data("nap"), nullptr);
        ASSERT_TRUE(ticks->WaitFor(1, 2s));
        SetNow(T(outside));
        std::this_thread::sleep_for(1500ms);
        EXPECT_EQ(scheduler->EventCount(), 4u);
        SetNow(T("2031-01-01 10:00:03"));
        const std::size_t seen = ticks->Ticks().size();
        ASSERT_TRUE(ticks->WaitFor(seen + 1, 2s));
        EXPECT_EQ(NextTick("hourly"), T("2031-01-01 11:00:00"));
        EXPECT_EQ(scheduler->EventCount(), 4u);
        for (const Tick& tick : ticks->Ticks()) {
            EXPECT_EQ(tick.userData, "Text:every second");
            EXPECT_EQ(tick.at.date().year(), 2031) << tick.at;
        }
        const auto waiting = logger->Containing("outside 1970..2099: time events wait");
        ASSERT_EQ(waiting.size(), 1u);
        EXPECT_EQ(waiting[0].level, 4);
    }
}

TEST_F(TimeSchedulerTest, QueriesFindEventsByRecordOrUserData) {
    StartAt(T("2031-01-01 10:00:00"));
    TimeEvent started = Event("0 0 * * * ?", true, "2031-01-01 12:00:00");
    Add(started, "started");
    ptime next;
    TimeEvent zeroDelay = started;  // a default value sent is not an absent field
    zeroDelay.set_delay(0);
    EXPECT_EQ(scheduler->GetRemainingTimeBySpec(zeroDelay, next), 0);
    EXPECT_TRUE(next.is_not_a_date_time());
    scheduler->RegisterSleepEvent(60, Data("nap"), nullptr);
    EXPECT_EQ(scheduler->GetRemainingTimeBySpec(TimeEvent(), next), 0);  // not a sleep
    started.mutable_starttime()->clear_hour();
    EXPECT_EQ(Failure([&] { scheduler->GetRemainingTimeBySpec(started, next); }),
              "Cannot serialize timeEvent to string");
    const TimeEvent one = Event("0 0 * * * ?", true, "", "2031-01-01 11:30:00");  // ends
    Add(one, "one");
    Add(one, "twin");
    EXPECT_EQ(Failure([&] { scheduler->GetRemainingTimeBySpec(one, next); }),
              "The time event is not unique!");
    EXPECT_THROW(scheduler->GetRemainingTimeByUserData(Data("nobody"), next),
                 CCrontabNoEventException);
    EXPECT_THROW(scheduler->GetRemainingTimeByUserData(nullptr, next), CCrontabNoEventException);

    // Crontab matches after a time, whatever the event's limits.
    EXPECT_EQ(scheduler->GetNextOccurrencesByUserData(Data("one"), T("2031-01-01 11:00:00"), 2),
              (std::vector<ptime>{T("2031-01-01 12:00:00"), T("2031-01-01 13:00:00")}));
    EXPECT_EQ(
        scheduler->GetNextOccurrencesByUserData(Data("one"), T("2031-01-01 00:00:00"), 1000000)
            .size(),
        CTimeScheduler::kMaxOccurrencesPerQuery);
    EXPECT_TRUE(scheduler->GetNextOccurrencesByUserData(Data("nap"), ptime(), 3).empty());
    EXPECT_TRUE(scheduler->GetNextOccurrencesByUserData(nullptr, ptime(), 3).empty());
}

TEST_F(TimeSchedulerTest, LastTickCountsLimitsEndsAndDelays) {
    StartAt(T("2029-06-01 00:00:00"));
    struct Case {
        const char* text;
        const char* start;         // "": none
        const char* end;           // "": none
        std::int64_t occurrences;  // -1: none
        int delay;                 // 0: none
        const char* expected;      // "": no last tick
    };
    const Case cases[] = {
        {"0 0 * * * ?", "2030-01-01 00:00:00", "", 5, 60, "2030-01-01 04:01:00"},
        {"0 0 * * * ?", "2030-01-01 00:00:00", "2030-01-01 02:30:00", 5, 0, "2030-01-01 02:00:00"},
        {"0 0 * * * ?", "", "", -1, 0, ""},
        {"0 0 0 1 * ? 2098-2099", "", "", -1, 0, "2099-01-01 00:00:00"},
        {"0 0 0 1 1 ? 2030", "", "", -1, -5, "2030-01-01 00:00:00"},
        {"0 0 * * * ?", "", "", 2, 0, "2029-06-01 02:00:00"},
        // any limit: counted, never refused
        {"* * * * * ?", "2030-01-01 00:00:00", "2030-01-02 00:00:00", 20000000, 0,
         "2030-01-02 00:00:00"},
        {"* * * * * ?", "", "", 4294967295, 0, "2099-01-01 00:00:00"},
        {"* * * * * ?", "2030-01-01 00:00:00", "", 86401, 0, "2030-01-02 00:00:00"},
        // a start before 1970 counts from now on
        {"0 0 0 1 1 ?", "1969-06-01 00:00:00", "", 1, 0, "2030-01-01 00:00:00"},
    };
    for (const Case& c : cases) {
        const auto last =
            scheduler->GetLastTick(Event(c.text, true, c.start, c.end, c.occurrences, c.delay));
        EXPECT_EQ(last, *c.expected ? std::optional(T(c.expected)) : std::nullopt) << c.text;
    }
    EXPECT_THROW(scheduler->GetLastTick(Event("0 0 * * * ?", true, "", "", 0)), std::runtime_error);
    EXPECT_TRUE(Failure([&] {
                    scheduler->GetLastTick(Event("0 0 0 1 1 ? 2030", true, "2031-01-01 00:00:00"));
                }).ends_with(" never ticks"));
    EXPECT_THROW(scheduler->GetLastTick(Event("0 0 0 * *")), CCrontabValidationException);
}

TEST_F(TimeSchedulerTest, ValidationAllowsTwelveHoursOfSlackWhenAsked) {
    StartAt(T("2031-01-01 10:00:00"));
    const auto crontab = Crontab("0 0 4 1 1 ? 2031");  // six hours ago, never again
    const TimeEvent event = Event("0 0 4 1 1 ? 2031", true, "2030-12-31 00:00:00");
    EXPECT_THROW(scheduler->ValidateTimeEvent(*crontab, event, false), CCrontabTimeInPastException);
    EXPECT_NO_THROW(scheduler->ValidateTimeEvent(*crontab, event, true));
    EXPECT_THROW(scheduler->ValidateTimeEvent(
                     *crontab, Event("0 0 4 1 1 ? 2031", true, "2031-06-01 00:00:00"), true),
                 CCrontabNoEventException);
    // The slack would begin the search before 1970: it begins at 1970 instead.
    EXPECT_NO_THROW(scheduler->ValidateTimeEvent(
        *Crontab("0 0 * * * ?"), Event("0 0 * * * ?", true, "1970-01-01 00:00:00"), true));
}

TEST_F(TimeSchedulerTest, TheDumpListsEveryEventWithoutHoldingTheRegistry) {
    CTimeScheduler::Options options;
    options.dumpPeriod = 150ms;
    StartAt(T("2031-01-01 10:00:00"), options);
    // While the dump logs an event, another thread must get at the registry at once.
    std::promise<bool> registryFree;
    std::future<std::size_t> probe;
    std::atomic<bool> probed{false};
    logger->OnLine([&](const std::string& text) {
        if (text.find("is scheduled to tick every") == std::string::npos || probed.exchange(true)) {
            return;
        }
        probe = std::async(std::launch::async, [this] { return scheduler->EventCount(); });
        registryFree.set_value(probe.wait_for(2s) == std::future_status::ready);
    });
    Add(Event("0 0 * * * ?", true, "", "", -1, 60), "dumped");
    constexpr std::size_t kNaps = 1500;  // the dump copies the registry in parts
    for (std::size_t i = 0; i < kNaps; ++i)
        scheduler->RegisterSleepEvent(600, Data("nap " + std::to_string(i)), nullptr);
    auto freed = registryFree.get_future();
    ASSERT_EQ(freed.wait_for(5s), std::future_status::ready);
    EXPECT_TRUE(freed.get());
    probe.wait();  // before the scheduler goes
    std::this_thread::sleep_for(500ms);
    // The last complete dump lists every event once, in id order.
    std::vector<std::string> dump, current;
    for (const auto& line : logger->Lines()) {
        if (line.text.ends_with("Flushing all scheduled events")) current.clear();
        if (line.text.ends_with("Flushing all scheduled events done")) dump = current;
        if (line.text.find(" : Event ") != std::string::npos) current.push_back(line.text);
    }
    ASSERT_EQ(dump.size(), kNaps + 1);
    EXPECT_EQ(dump[0],
              "CTimeScheduler:ScheduledTicks : Event 1 is scheduled to tick every CRON: 0 0 * * "
              "* ?. The user data is Text:dumped with delay 60 and UTCLocal = 1");
    scheduler.reset();  // its dumps call the hook above
    for (std::size_t i = 1; i < dump.size(); ++i) {
        EXPECT_EQ(dump[i], "CTimeScheduler:ScheduledTicks : Event " + std::to_string(i + 1) +
                               " is scheduled to tick every Sleep event: 600. The user data is "
                               "Text:nap " +
                               std::to_string(i - 1) + " with delay 0 and UTCLocal = 0");
    }
}

TEST(TimeConversions, RecordsBecomeTimePointsWithTheDateLibrarysErrors) {
    const std::pair<std::array<int, 6>, const char*> cases[] = {
        {{2024, 3, 1, 24, 0, 0}, "2024-03-02 00:00:00"},  // hours may leave the day
        {{2024, 1, 2, -1, 0, 0}, "2024-01-01 23:00:00"},
        {{9999, 12, 31, 24, 0, 0}, "Year is out of valid range: 1400..9999"},
    };
    for (const auto& [fields, expected] : cases) {
        UTCTime record;
        record.set_year(fields[0]);
        record.set_month(fields[1]);
        record.set_day(fields[2]);
        record.set_hour(fields[3]);
        record.set_minute(fields[4]);
        record.set_second(fields[5]);
        try {
            const ptime converted = ToTimePoint(record);
            EXPECT_EQ(converted, T(expected)) << expected;
        } catch (const std::out_of_range& e) {
            EXPECT_STREQ(e.what(), expected);
        }
    }
    EXPECT_EQ(ToUtcTime(T("2030-05-01 10:20:30.900")).ShortDebugString(),
              "year: 2030 month: 5 day: 1 hour: 10 minute: 20 second: 30");
}

}  // namespace
}  // namespace Zent::Scheduler

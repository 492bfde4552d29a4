// The time scheduler against an adjustable clock: ticks, limits, replacement, sleep
// events, delays, local time, clock jumps, queries and the dump.

#include <set>

#include "Scheduler/crontab/CrontabValidationException.h"
#include "TimeSchedulerTestSupport.h"

namespace Zent::Scheduler::Testing {
namespace {

using boost::posix_time::hours;
using boost::posix_time::minutes;
using boost::posix_time::seconds;

UTCTime Utc(const std::string& text) {
    return ToUtcTime(time_from_string(text));
}

TEST_F(TimeSchedulerTest, AnEverySecondEventTicksOnEachSecondWithItsUserDataAndContext) {
    StartAlignedToSecond(boost::posix_time::milliseconds(200));
    auto context = std::make_shared<Common::Security::CUserContext>();
    Add(Event("* * * * * ?"), "every", context);
    ASSERT_TRUE(ticks->WaitFor(2, 3s));
    const auto delivered = ticks->Ticks();
    for (const Tick& tick : delivered) {
        EXPECT_EQ(tick.userData, "Text:every");
        EXPECT_EQ(tick.context, context);
        EXPECT_LT(tick.at.time_of_day().fractional_seconds(), 200000) << tick.at;
    }
    EXPECT_EQ(delivered[1].at.time_of_day().total_seconds() -
                  delivered[0].at.time_of_day().total_seconds(),
              1);
}

TEST_F(TimeSchedulerTest, AnOccurrenceLimitGivesExactlyThatManyTicks) {
    StartAlignedToSecond(boost::posix_time::milliseconds(100));
    TimeEvent event = Event("* * * * * ?");
    event.mutable_range()->set_rangedefinitionoccurences(3);
    Add(event, "three");
    ASSERT_TRUE(ticks->WaitFor(3, 4s));
    std::this_thread::sleep_for(1200ms);
    EXPECT_EQ(ticks->Ticks().size(), 3u);
    EXPECT_EQ(logger->Containing("ProcessTimerEvent: Event description map: Erasing id: 1").size(),
              1u);
    EXPECT_EQ(scheduler->EventCount(), 0u);
}

TEST_F(TimeSchedulerTest, AnEndTimeOnAnOccurrenceStillTicksIt) {
    StartAlignedToSecond(boost::posix_time::milliseconds(100));
    const ptime now = clock->UniversalTime();
    const ptime second(now.date(), seconds(now.time_of_day().total_seconds()));
    TimeEvent event = Event("* * * * * ?");
    *event.mutable_range()->mutable_rangedefinitionendtime() = ToUtcTime(second + seconds(2));
    Add(event, "ends");
    ASSERT_TRUE(ticks->WaitFor(2, 3s));
    std::this_thread::sleep_for(1200ms);
    const auto delivered = ticks->Ticks();
    ASSERT_EQ(delivered.size(), 2u);
    EXPECT_EQ(delivered.back().at.time_of_day().total_seconds(),
              (second + seconds(2)).time_of_day().total_seconds());
}

TEST_F(TimeSchedulerTest, AStartInThePastDeliversNoneOfTheMissedOccurrences) {
    StartAt(time_from_string("2031-06-10 12:20:30"));
    TimeEvent event = Event("0 0 * * * ?");
    *event.mutable_starttime() = Utc("2031-06-08 12:00:00");
    Add(event, "hourly");
    std::this_thread::sleep_for(300ms);
    EXPECT_TRUE(ticks->Ticks().empty());
    EXPECT_EQ(NextTick("hourly"), time_from_string("2031-06-10 13:00:00"));
}

TEST_F(TimeSchedulerTest, AMatchExactlyAtTheRequestedStartTicksOnce) {
    StartAt(time_from_string("2030-05-01 09:59:58.600"));
    TimeEvent event = Event("0 0 10 1 5 ? 2030");
    // The registration path keeps the start one second before the requested one.
    *event.mutable_starttime() = Utc("2030-05-01 09:59:59");
    EXPECT_NO_THROW(scheduler->ValidateTimeEvent(
        *Crontab(event.timespecification()),
        [] {
            TimeEvent sent = Event("0 0 10 1 5 ? 2030");
            *sent.mutable_starttime() = Utc("2030-05-01 10:00:00");
            return sent;
        }(),
        false));
    Add(event, "once");
    ASSERT_TRUE(ticks->WaitFor(1, 3s));
    EXPECT_EQ(ticks->Ticks()[0].at.time_of_day().total_seconds(), 10 * 3600);
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(ticks->Ticks().size(), 1u);
    EXPECT_EQ(scheduler->EventCount(), 0u);
}

TEST_F(TimeSchedulerTest, EqualUserDataReplacesTheOlderRegistrationUnderANewId) {
    StartAt(time_from_string("2031-01-01 00:00:10"));
    Add(Event("0 0 * * * ?"), "same");
    Add(Event("0 30 * * * ?"), "same");
    EXPECT_EQ(scheduler->EventCount(), 1u);
    EXPECT_EQ(NextTick("same"), time_from_string("2031-01-01 00:30:00"));
    EXPECT_EQ(
        logger->Containing("FinadAndDeleteUserData: Event description map: Erasing id: 1").size(),
        1u);
    EXPECT_EQ(logger->Containing("next occurance of id: 2 at").size(), 1u);
}

TEST_F(TimeSchedulerTest, AFailedRegistrationChangesNothingAndUsesNoId) {
    StartAt(time_from_string("2031-01-01 00:00:10"));
    Add(Event("0 0 * * * ?"), "kept");
    const ptime kept = NextTick("kept");
    struct Case {
        TimeEvent event;
        std::string text;
    };
    TimeEvent past = Event("0 0 0 1 1 ? 2030");
    *past.mutable_starttime() = Utc("2029-06-01 00:00:00");
    TimeEvent never = Event("0 0 * * * ?");
    *never.mutable_range()->mutable_rangedefinitionendtime() = Utc("2030-01-01 00:00:00");
    TimeEvent noTicks = Event("0 0 * * * ?");
    noTicks.mutable_range()->set_rangedefinitionoccurences(0);
    TimeEvent wideDelay = Event("0 0 * * * ?");
    wideDelay.set_delay(7200);
    const Case cases[] = {{past, "Events are in the past"},
                          {never, "The event never occurs"},
                          {noTicks, "No next occurrence event."},
                          {wideDelay, "Delay greater than time inverval between ticks."}};
    for (const Case& c : cases) {
        try {
            Add(c.event, "kept");
            ADD_FAILURE() << "registered: " << c.text;
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(e.what(), c.text);
        }
        EXPECT_EQ(NextTick("kept"), kept) << c.text;
    }
    EXPECT_THROW(scheduler->AddTab(Crontab("0 0 * * * ?"), Event("0 0 * * * ?"), nullptr, nullptr),
                 CCrontabNoEventException);
    Add(Event("0 15 * * * ?"), "next");
    EXPECT_EQ(logger->Containing("next occurance of id: 2 at").size(), 1u);
    EXPECT_EQ(scheduler->EventCount(), 2u);
}

TEST_F(TimeSchedulerTest, ALocalEventAtUtcPlusTwoIsArmedTwoHoursEarlierInUtc) {
    clock->SetUtcOffset(hours(2));
    StartAt(time_from_string("2031-03-03 08:00:00.250"));  // 10:00:00.25 local
    Add(Event("0 0 12 * * ?", false), "noon");
    EXPECT_EQ(NextTick("noon"), time_from_string("2031-03-03 10:00:00"));
}

TEST_F(TimeSchedulerTest, ALocalEventFollowsAChangeOfTheZoneOffset) {
    clock->SetUtcOffset(hours(2));
    StartAt(time_from_string("2031-03-03 08:00:00"));
    Add(Event("0 0 12 * * ?", false), "noon");
    Add(Event("0 0 12 * * ?", true), "utc-noon");
    std::this_thread::sleep_for(200ms);  // the observer leaves its idle wait first
    clock->SetUtcOffset(hours(3));
    std::this_thread::sleep_for(400ms);
    EXPECT_EQ(NextTick("noon"), time_from_string("2031-03-03 09:00:00"));
    EXPECT_EQ(NextTick("utc-noon"), time_from_string("2031-03-03 12:00:00"));
    EXPECT_EQ(logger->Containing("The local UTC offset changed").size(), 1u);
}

TEST_F(TimeSchedulerTest, ARandomDelayStaysInsideItsWindowAndSpreads) {
    StartAt(time_from_string("2031-01-01 10:10:00"));
    TimeEvent event = Event("0 0 * * * ?");
    event.set_delay(300);
    std::set<long> offsets;
    for (int draw = 0; draw < 100; ++draw) {
        Add(event, "spread");
        const ptime next = NextTick("spread");
        const long offset = (next - time_from_string("2031-01-01 11:00:00")).total_seconds();
        ASSERT_GE(offset, 0);
        ASSERT_LT(offset, 300);
        offsets.insert(offset);
    }
    EXPECT_GT(offsets.size(), 50u);
}

TEST_F(TimeSchedulerTest, StopTickingStopsDelivery) {
    StartAlignedToSecond(boost::posix_time::milliseconds(100));
    Add(Event("* * * * * ?"), "stopped");
    ASSERT_TRUE(ticks->WaitFor(1, 2s));
    scheduler->StopTicking();
    const std::size_t before = ticks->Ticks().size();
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(ticks->Ticks().size(), before);
    EXPECT_FALSE(scheduler->IsTicking());
}

TEST_F(TimeSchedulerTest, SleepEventsTickOnceAndEqualUserDataReplacesThem) {
    StartAlignedToSecond(boost::posix_time::milliseconds(100));
    scheduler->RegisterSleepEvent(1, Data("nap"), nullptr);
    scheduler->RegisterSleepEvent(1, Data("nap"), nullptr);
    scheduler->RegisterSleepEvent(1, Data("other"), nullptr);
    ASSERT_TRUE(ticks->WaitFor(2, 3s));
    std::this_thread::sleep_for(300ms);
    std::multiset<std::string> names;
    for (const Tick& tick : ticks->Ticks())
        names.insert(tick.userData);
    EXPECT_EQ(names, (std::multiset<std::string>{"Text:nap", "Text:other"}));
    EXPECT_EQ(scheduler->EventCount(), 0u);
    EXPECT_THROW(scheduler->RegisterSleepEvent(1, nullptr, nullptr), CCrontabNoEventException);
}

TEST_F(TimeSchedulerTest, ASleepEventKeepsItsRemainingTimeWhenTheClockIsSetBack) {
    StartAlignedToSecond(boost::posix_time::milliseconds(100));
    const auto started = std::chrono::steady_clock::now();
    scheduler->RegisterSleepEvent(2, Data("nap"), nullptr);
    std::this_thread::sleep_for(200ms);  // the observer leaves its idle wait first
    clock->Jump(-hours(1));
    ASSERT_TRUE(ticks->WaitFor(1, 4s));
    const auto waited = std::chrono::steady_clock::now() - started;
    EXPECT_GT(waited, 1500ms);
    EXPECT_LT(waited, 3500ms);
    EXPECT_EQ(logger->Containing("Scheduling new sleeping time for event id:1").size(), 1u);
}

TEST_F(TimeSchedulerTest, AJumpForwardReplansCronEventsForTheNewTime) {
    StartAt(time_from_string("2031-01-01 10:00:10"));
    Add(Event("0 * * * * ?"), "minutely");
    std::this_thread::sleep_for(200ms);
    clock->Jump(hours(2));
    std::this_thread::sleep_for(400ms);
    EXPECT_EQ(NextTick("minutely"), time_from_string("2031-01-01 12:01:00"));
    const auto deltas = logger->Containing("TimeObserverMain: the time delta is ");
    ASSERT_EQ(deltas.size(), 1u);
    // The two clocks are read one after the other: the truncated delta may lose a second.
    EXPECT_TRUE(
        deltas[0].text == "CTimeScheduler : TimeObserverMain: the time delta is 7200 seconds" ||
        deltas[0].text == "CTimeScheduler : TimeObserverMain: the time delta is 7199 seconds")
        << deltas[0].text;
    EXPECT_TRUE(ticks->Ticks().empty());
}

TEST_F(TimeSchedulerTest, AJumpBackRedeliversAnOccurrence) {
    StartAt(time_from_string("2031-01-01 13:59:59.500"));
    Add(Event("0 0 * * * ?"), "hourly");
    ASSERT_TRUE(ticks->WaitFor(1, 2s));
    clock->Jump(-seconds(5));
    ASSERT_TRUE(ticks->WaitFor(2, 7s));
    const auto delivered = ticks->Ticks();
    EXPECT_EQ(delivered[0].at.time_of_day().total_seconds(), 14 * 3600);
    EXPECT_EQ(delivered[1].at.time_of_day().total_seconds(), 14 * 3600);
}

TEST_F(TimeSchedulerTest, JumpsThatCancelOutBetweenTwoChecksLoseNoTick) {
    CTimeScheduler::Options options;
    options.checkPeriod = 3s;
    StartAlignedToSecond(boost::posix_time::milliseconds(100));
    Create(std::move(options));
    Add(Event("0 0 0 1 1 ? 2099"), "keeper");  // the observer starts its first period
    std::this_thread::sleep_for(100ms);
    clock->Jump(hours(24));
    // Both timers are set a day ahead of what the clock will read again shortly.
    Add(Event("* * * * * ?"), "every second");
    scheduler->RegisterSleepEvent(1, Data("nap"), nullptr);
    std::this_thread::sleep_for(300ms);
    clock->Jump(-hours(24));
    const auto jumpedBack = std::chrono::steady_clock::now();
    // The next check, under three seconds away, finds the timers off and re-plans them.
    ASSERT_TRUE(ticks->WaitFor(2, 5s));
    EXPECT_LT(std::chrono::steady_clock::now() - jumpedBack, 4s);
    std::this_thread::sleep_for(1100ms);  // the sleep and the first second have both ticked
    std::set<std::string> names;
    for (const Tick& tick : ticks->Ticks())
        names.insert(tick.userData);
    EXPECT_EQ(names, (std::set<std::string>{"Text:every second", "Text:nap"}));
}

TEST_F(TimeSchedulerTest, ClockChangesWhileIdleAreNotReportedLater) {
    clock->Jump(hours(5));
    std::this_thread::sleep_for(300ms);
    StartAlignedToSecond(boost::posix_time::milliseconds(100));
    scheduler->RegisterSleepEvent(1, Data("nap"), nullptr);
    ASSERT_TRUE(ticks->WaitFor(1, 3s));
    EXPECT_TRUE(logger->Containing("the time delta is").empty());
}

TEST_F(TimeSchedulerTest, RemainingTimeIsCountedInWholeSecondsFromTheCurrentSecond) {
    StartAt(time_from_string("2031-01-01 10:00:00.900"));
    TimeEvent event = Event("30 0 10 * * ?");
    Add(event, "half");
    ptime next;
    EXPECT_EQ(scheduler->GetRemainingTimeByUserData(Data("half"), next), 30);
    EXPECT_EQ(next, time_from_string("2031-01-01 10:00:30"));
    EXPECT_EQ(scheduler->GetRemainingTimeBySpec(event, next), 30);

    EXPECT_EQ(scheduler->GetRemainingTimeBySpec(Event("0 0 0 * * ?"), next), 0);
    EXPECT_TRUE(next.is_not_a_date_time());
    Add(event, "twin");
    EXPECT_THROW(
        {
            try {
                scheduler->GetRemainingTimeBySpec(event, next);
            } catch (const std::runtime_error& e) {
                EXPECT_STREQ(e.what(), "The time event is not unique!");
                throw;
            }
        },
        std::runtime_error);
    EXPECT_THROW(scheduler->GetRemainingTimeByUserData(Data("nobody"), next),
                 CCrontabNoEventException);
    EXPECT_THROW(scheduler->GetRemainingTimeByUserData(nullptr, next), CCrontabNoEventException);
}

TEST_F(TimeSchedulerTest, RemainingTimeBySpecFindsAStartedEventByTheRecordItsRequesterSent) {
    StartAt(time_from_string("2031-01-01 10:00:00"));
    TimeEvent sent = Event("0 0 * * * ?");
    *sent.mutable_starttime() = Utc("2031-01-01 12:00:00");
    TimeEvent stored = sent;
    *stored.mutable_starttime() = Utc("2031-01-01 11:59:59");
    Add(stored, "started");
    ptime next;
    EXPECT_EQ(scheduler->GetRemainingTimeBySpec(sent, next), 7200);
    scheduler->RegisterSleepEvent(60, Data("nap"), nullptr);
    EXPECT_EQ(scheduler->GetRemainingTimeBySpec(TimeEvent(), next), 0);
}

TEST_F(TimeSchedulerTest, NextOccurrencesFollowTheCrontabAloneUpToTheCap) {
    StartAt(time_from_string("2031-01-01 10:15:00"));
    TimeEvent event = Event("0 0 * * * ?");
    *event.mutable_range()->mutable_rangedefinitionendtime() = Utc("2031-01-01 11:30:00");
    Add(event, "hourly");
    const auto next = scheduler->GetNextOccurrencesByUserData(
        Data("hourly"), time_from_string("2031-01-01 10:15:00"), 3);
    EXPECT_EQ(next, (std::vector<ptime>{time_from_string("2031-01-01 11:00:00"),
                                        time_from_string("2031-01-01 12:00:00"),
                                        time_from_string("2031-01-01 13:00:00")}));
    EXPECT_EQ(scheduler
                  ->GetNextOccurrencesByUserData(Data("hourly"),
                                                 time_from_string("2031-01-01 00:00:00"), 1000000)
                  .size(),
              CTimeScheduler::kMaxOccurrencesPerQuery);
    scheduler->RegisterSleepEvent(60, Data("nap"), nullptr);
    EXPECT_TRUE(scheduler->GetNextOccurrencesByUserData(Data("nap"), ptime(), 3).empty());
    EXPECT_TRUE(scheduler->GetNextOccurrencesByUserData(nullptr, ptime(), 3).empty());
}

TEST_F(TimeSchedulerTest, LastTickCountsLimitsEndsAndDelays) {
    StartAt(time_from_string("2029-06-01 00:00:00"));
    struct Case {
        std::string text;
        std::string start;
        std::string end;
        std::int64_t occurrences;  // -1: none
        int delay;                 // 0: none
        std::string expected;      // empty: no last tick
    };
    const Case cases[] = {
        {"0 0 * * * ?", "2030-01-01 00:00:00", "", 5, 60, "2030-01-01 04:01:00"},
        {"0 0 * * * ?", "2030-01-01 00:00:00", "2030-01-01 02:30:00", 5, 0, "2030-01-01 02:00:00"},
        {"0 0 * * * ?", "", "", -1, 0, ""},
        {"0 0 0 1 * ? 2098-2099", "", "", -1, 0, "2099-01-01 00:00:00"},
        {"0 0 0 1 1 ? 2030", "", "", -1, -5, "2030-01-01 00:00:00"},
        {"0 0 * * * ?", "", "", 2, 0, "2029-06-01 02:00:00"},
        // any limit: counted, never refused
        {"0 0 0 1 1 ? 2030", "", "", 4294967295, 0, "2030-01-01 00:00:00"},
        {"* * * * * ?", "2030-01-01 00:00:00", "2030-01-02 00:00:00", 20000000, 0,
         "2030-01-02 00:00:00"},
        {"* * * * * ?", "", "", 4294967295, 0, "2099-01-01 00:00:00"},
        {"* * * * * ?", "2030-01-01 00:00:00", "", 86401, 0, "2030-01-02 00:00:00"},
    };
    for (const Case& c : cases) {
        TimeEvent event = Event(c.text);
        if (!c.start.empty()) *event.mutable_starttime() = Utc(c.start);
        if (!c.end.empty()) *event.mutable_range()->mutable_rangedefinitionendtime() = Utc(c.end);
        if (c.occurrences >= 0) {
            event.mutable_range()->set_rangedefinitionoccurences(
                static_cast<std::uint32_t>(c.occurrences));
        }
        if (c.delay != 0) event.set_delay(c.delay);
        const auto last = scheduler->GetLastTick(event);
        if (c.expected.empty()) {
            EXPECT_FALSE(last.has_value()) << c.text;
        } else {
            ASSERT_TRUE(last.has_value()) << c.text;
            EXPECT_EQ(*last, time_from_string(c.expected)) << c.text;
        }
    }

    TimeEvent zero = Event("0 0 * * * ?");
    zero.mutable_range()->set_rangedefinitionoccurences(0);
    EXPECT_THROW(scheduler->GetLastTick(zero), std::runtime_error);
    TimeEvent never = Event("0 0 0 1 1 ? 2030");
    *never.mutable_starttime() = Utc("2031-01-01 00:00:00");
    try {
        scheduler->GetLastTick(never);
        ADD_FAILURE() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find(" never ticks"), std::string::npos) << e.what();
    }
    EXPECT_THROW(scheduler->GetLastTick(Event("0 0 0 * *")), CCrontabValidationException);
}

TEST_F(TimeSchedulerTest, ValidationAllowsTwelveHoursOfSlackWhenAsked) {
    StartAt(time_from_string("2031-01-01 10:00:00"));
    const auto crontab = Crontab("0 0 4 1 1 ? 2031");  // six hours ago, never again
    TimeEvent event = Event("0 0 4 1 1 ? 2031");
    *event.mutable_starttime() = Utc("2030-12-31 00:00:00");
    EXPECT_THROW(scheduler->ValidateTimeEvent(*crontab, event, false), CCrontabTimeInPastException);
    EXPECT_NO_THROW(scheduler->ValidateTimeEvent(*crontab, event, true));
    TimeEvent late = event;
    *late.mutable_starttime() = Utc("2031-06-01 00:00:00");
    EXPECT_THROW(scheduler->ValidateTimeEvent(*crontab, late, true), CCrontabNoEventException);
}

TEST_F(TimeSchedulerTest, TheDumpListsEveryEventAndDestructionClearsTheMap) {
    CTimeScheduler::Options options;
    options.dumpPeriod = 150ms;
    StartAt(time_from_string("2031-01-01 10:00:00"), options);
    TimeEvent event = Event("0 0 * * * ?");
    event.set_delay(60);
    Add(event, "dumped");
    scheduler->RegisterSleepEvent(600, Data("nap"), nullptr);
    std::this_thread::sleep_for(500ms);
    EXPECT_FALSE(logger
                     ->Containing("CTimeScheduler:ScheduledTicks : Event 1 is scheduled to tick "
                                  "every CRON: 0 0 * * * ?. The user data is Text:dumped with "
                                  "delay 60 and UTCLocal = 1")
                     .empty());
    EXPECT_FALSE(logger
                     ->Containing("Event 2 is scheduled to tick every Sleep event: 600. The user "
                                  "data is Text:nap with delay 0 and UTCLocal = 0")
                     .empty());
    scheduler.reset();
    EXPECT_EQ(logger->Containing("~CTimeScheduler: Clearing the event description map").size(), 1u);
    EXPECT_TRUE(ticks->Ticks().empty());
}

TEST(TimeConversions, RecordsBecomeTimePointsWithTheDateLibrarysErrors) {
    struct Case {
        int year, month, day, hour, minute, second;
        std::string expected;  // a time, or the error text
    };
    const Case cases[] = {
        {2024, 2, 29, 10, 0, 0, "2024-02-29 10:00:00"},
        {2024, 3, 1, 24, 0, 0, "2024-03-02 00:00:00"},
        {2024, 1, 65537, 0, 0, 0, "2024-01-01 00:00:00"},
        {67560, 1, 1, 0, 0, 0, "2024-01-01 00:00:00"},
        {2024, 1, 2, -1, 0, 0, "2024-01-01 23:00:00"},
        {2024, 2, 30, 10, 0, 0, "Day of month is not valid for year"},
        {2100, 2, 29, 0, 0, 0, "Day of month is not valid for year"},
        {2024, 13, 1, 0, 0, 0, "Month number is out of range 1..12"},
        {2024, 1, 0, 0, 0, 0, "Day of month value is out of range 1..31"},
        {1399, 1, 1, 0, 0, 0, "Year is out of valid range: 1400..9999"},
        {9999, 12, 31, 24, 0, 0, "Year is out of valid range: 1400..9999"},
        {1400, 1, 1, 0, 0, -1, "Year is out of valid range: 1400..9999"},
        {2000, 1, 1, 574739760, 0, 0, "Year is out of valid range: 1400..9999"},
    };
    for (const Case& c : cases) {
        UTCTime record;
        record.set_year(c.year);
        record.set_month(c.month);
        record.set_day(c.day);
        record.set_hour(c.hour);
        record.set_minute(c.minute);
        record.set_second(c.second);
        try {
            const ptime converted = ToTimePoint(record);
            EXPECT_EQ(converted, time_from_string(c.expected)) << c.expected;
        } catch (const std::out_of_range& e) {
            EXPECT_EQ(e.what(), c.expected);
        }
    }
    const UTCTime back = ToUtcTime(time_from_string("2030-05-01 10:20:30.900"));
    EXPECT_EQ(back.ShortDebugString(), "year: 2030 month: 5 day: 1 hour: 10 minute: 20 second: 30");
}

}  // namespace
}  // namespace Zent::Scheduler::Testing

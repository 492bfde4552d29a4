// The earliest not yet ended range among several crontab definitions, in UTC and in local
// time with a pinned UTC offset.

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <boost/date_time/posix_time/posix_time.hpp>

#include "Scheduler/crontab/CronRangeFinder.h"
#include "Scheduler/crontab/CronTabCache.h"
#include "Scheduler/crontab/CrontabValidationException.h"

namespace Zent::Scheduler {
namespace {

namespace bpt = boost::posix_time;
using bpt::ptime;
using Definition = CCronRangeFinder::RangeDefinition;
using Range = std::optional<std::pair<ptime, ptime>>;

ptime T(const std::string& text) {
    return bpt::time_from_string(text);
}

// A range as its start and its length: "2030-01-07 08:00:00 +01:00:00", or "none".
std::string Show(const Range& range) {
    if (!range) return "none";
    return boost::gregorian::to_iso_extended_string(range->first.date()) + " " +
           bpt::to_simple_string(range->first.time_of_day()) + " +" +
           bpt::to_simple_string(range->second - range->first);
}

CCronRangeFinder::UtcOffsetSource FixedOffset(bpt::time_duration offset) {
    return [offset](ptime) { return offset; };
}

Definition Utc(const char* text, bpt::time_duration duration) {
    return {true, text, duration};
}
Definition Local(const char* text, bpt::time_duration duration) {
    return {false, text, duration};
}

const bpt::time_duration kHour = bpt::hours(1);

TEST(CronRangeFinderTest, TheEarliestRangeNotYetEndedIsFound) {
    struct Case {
        const char* now;
        Definition definition;
        bpt::time_duration offset;
        std::string expected;
    };
    const Definition eight = Local("0 0 8 * * ?", kHour);
    const std::vector<Case> cases = {
        {"2030-01-07 07:00:00", Utc("0 0 8 ? * mon-fri", kHour), bpt::hours(3),
         "2030-01-07 08:00:00 +01:00:00"},
        // a range longer than the gap between occurrences: the earliest open one
        {"2030-01-08 08:30:00", Utc("0 0 8 * * ?", bpt::hours(30)), kHour,
         "2030-01-07 08:00:00 +30:00:00"},
        {"2030-01-01 00:00:00", Utc("0 0 0 1 1 ? 2029", kHour), kHour, "none"},
        {"2099-12-31 23:30:00", Utc("0 0 23 31 12 ?", bpt::hours(2)), kHour,
         "2099-12-31 23:00:00 +02:00:00"},
        // local definitions are converted with the offset
        {"2030-01-07 05:00:00", eight, bpt::hours(2), "2030-01-07 06:00:00 +01:00:00"},
        // west of UTC the local wall clock is behind: a begun range must still be found
        {"2030-01-07 02:00:00", eight, bpt::hours(-5), "2030-01-07 13:00:00 +01:00:00"},
        {"2030-01-07 14:00:00", eight, bpt::hours(-5), "2030-01-08 13:00:00 +01:00:00"},
        {"2030-01-07 01:00:00", eight, bpt::hours(5) + bpt::minutes(45),
         "2030-01-07 02:15:00 +01:00:00"},
        {"2030-01-06 20:00:00", Local("0 0 8 ? * MON", bpt::hours(3)), bpt::hours(14),
         "2030-01-06 18:00:00 +03:00:00"},
        // searches never start before 1970, even where local now is still in 1969
        {"1970-01-05 00:00:00", Utc("0 0 0 1 1 ?", bpt::hours(240)), kHour,
         "1970-01-01 00:00:00 +240:00:00"},
        {"1970-01-01 01:00:00", Local("0 0 0 * * ?", bpt::hours(3)), bpt::hours(-2),
         "1970-01-01 02:00:00 +03:00:00"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.definition.utc ? "utc " : "local ") + c.definition.text +
                     " at " + c.now + " offset " + bpt::to_simple_string(c.offset));
        CCronRangeFinder finder(FixedOffset(c.offset));
        finder.AddDefinition(c.definition);
        EXPECT_EQ(Show(finder.FindNextRange(T(c.now))), c.expected);
    }
}

TEST(CronRangeFinderTest, OffsetIsReadOnceAndUsedForEveryLocalDefinition) {
    int reads = 0;
    CCronRangeFinder finder([&reads](ptime) { return bpt::hours(++reads); });
    finder.AddDefinition(Local("0 0 8 * * ?", kHour));
    finder.AddDefinition(Utc("0 0 9 * * ?", kHour));
    finder.AddDefinition(Local("0 0 7 * * ?", kHour));
    // Read once: +1 hour for both local definitions, so 07:00 local is 06:00 UTC.
    EXPECT_EQ(Show(finder.FindNextRange(T("2030-01-07 05:00:00"))),
              "2030-01-07 06:00:00 +01:00:00");
    EXPECT_EQ(reads, 1);
}

TEST(CronRangeFinderTest, EarliestStartWinsTheFirstOnTiesAndABadTextFailsTheQuery) {
    struct Case {
        std::vector<Definition> definitions;
        std::string expected;  // the range, or the failure text
    };
    const std::vector<Case> cases = {
        {{Utc("0 0 8 * * ?", kHour), Utc("0 0 8 * * ?", bpt::hours(2))},
         "2030-01-07 08:00:00 +01:00:00"},
        {{Utc("0 0 8 * * ?", bpt::hours(2)), Utc("0 0 8 * * ?", kHour)},
         "2030-01-07 08:00:00 +02:00:00"},
        // a local and a UTC definition that start at the same UTC second
        {{Local("0 0 10 * * ?", bpt::hours(3)), Utc("0 0 8 * * ?", kHour)},
         "2030-01-07 08:00:00 +03:00:00"},
        {{Utc("0 0 12 * * ?", kHour), Utc("0 0 7 * * ?", bpt::hours(2)), Utc("0 0 9 * * ?", kHour)},
         "2030-01-07 07:00:00 +02:00:00"},
        {{Utc("0 0 12 * * ?", kHour), Utc("0 0 0 1 1 ? 2029", kHour)},
         "2030-01-07 12:00:00 +01:00:00"},
        {{}, "none"},
        {{Utc("0 0 8 * * ?", kHour), Utc("0 0 12 * *", kHour)}, "Invalid crontab string"},
        {{Utc("0 0 8 * * x", kHour), Utc("0 0 12 * *", kHour)},
         "Cannot parse the DayOfWeek field."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        CCronRangeFinder finder(FixedOffset(bpt::hours(2)));
        for (const Definition& d : c.definitions)
            finder.AddDefinition(d);
        try {
            EXPECT_EQ(Show(finder.FindNextRange(T("2030-01-07 07:30:00"))), c.expected);
        } catch (const CCrontabValidationException& e) {
            EXPECT_EQ(e.what(), c.expected);
        }
    }
}

TEST(CronRangeFinderTest, TheCacheSharesTextsButDrawsRandomOnesAnew) {
    std::uint32_t draws = 0;
    const auto cache = std::make_shared<CCronTabCache>(2, [&draws] { return ++draws; });
    CCronRangeFinder finder(FixedOffset(bpt::hours(0)), cache);
    finder.AddDefinition(Utc("0 0 8 * * ?", kHour));
    finder.AddDefinition(Utc("R 0 8 * * ?", kHour));
    finder.FindNextRange(T("2030-01-07 07:30:00"));
    finder.FindNextRange(T("2030-01-07 07:30:00"));
    EXPECT_EQ(draws, 2u);  // `R` is drawn at every query, never kept
    EXPECT_EQ(cache->Size(), 1u);
    const auto eight = cache->Get("0 0 8 * * ?");

    EXPECT_THROW(cache->Get("0 0 8 * *"), CCrontabValidationException);
    EXPECT_EQ(cache->Size(), 1u);
    // The text used least recently makes room.
    const auto nine = cache->Get("0 0 9 * * ?");
    EXPECT_EQ(cache->Get("0 0 8 * * ?"), eight);
    cache->Get("0 0 10 * * ?");
    EXPECT_EQ(cache->Size(), 2u);
    EXPECT_EQ(cache->Get("0 0 8 * * ?"), eight);
    EXPECT_NE(cache->Get("0 0 9 * * ?"), nine);
}

TEST(CronRangeFinderTest, TheCacheAnswersManyThreadsWithOneCrontabPerText) {
    CCronTabCache cache(4);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&cache, t] {
            for (int i = 0; i < 2000; ++i) {
                const std::string text = "0 0 " + std::to_string(8 + (i + t) % 5) + " * * ?";
                EXPECT_EQ(cache.Get(text)->GetText(), text);
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(cache.Size(), 4u);
    EXPECT_EQ(cache.Get("0 0 8 * * ?"), cache.Get("0 0 8 * * ?"));
}

// With daylight saving time, the offset belongs to the given instant.
TEST(CronRangeFinderTest, DefaultSourceFollowsTheProcessZone) {
    const char* const saved = std::getenv("TZ");
    const std::string old = saved ? saved : "";
    setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
    tzset();
    EXPECT_EQ(CCronRangeFinder::ProcessUtcOffset(T("2030-01-15 12:00:00")), kHour);
    EXPECT_EQ(CCronRangeFinder::ProcessUtcOffset(T("2030-07-15 12:00:00")), bpt::hours(2));
    CCronRangeFinder finder;
    finder.AddDefinition(Local("0 0 8 * * ?", kHour));
    EXPECT_EQ(finder.FindNextRange(T("2030-07-15 00:00:00"))->first, T("2030-07-15 06:00:00"));
    saved ? setenv("TZ", old.c_str(), 1) : unsetenv("TZ");
    tzset();
}

}  // namespace
}  // namespace Zent::Scheduler

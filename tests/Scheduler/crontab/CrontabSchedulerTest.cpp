// The scheduler's view of one crontab: next occurrence within a limit, the last
// occurrence at or before a time, and the last occurrence of all.

#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <boost/date_time/posix_time/posix_time.hpp>

#include "Scheduler/crontab/CrontabParser.h"
#include "Scheduler/crontab/CrontabScheduler.h"

namespace Zent::Scheduler {
namespace {

namespace bpt = boost::posix_time;
using bpt::ptime;

ptime T(const std::string& text) {
    return bpt::time_from_string(text);
}

std::string Show(ptime t) {
    return t.is_not_a_date_time() ? "none" : bpt::to_simple_string(t);
}

CCrontabScheduler Scheduler(const std::string& text) {
    CCrontabParser parser;
    return CCrontabScheduler(parser.Parse(text));
}

TEST(CrontabSchedulerTest, LatestSupportedInstantIsTheLastMillisecondOf2099) {
    EXPECT_EQ(LatestSupportedInstant(),
              ptime(boost::gregorian::date(2099, 12, 31),
                    bpt::time_duration(23, 59, 59) + bpt::milliseconds(999)));
}

TEST(CrontabSchedulerTest, NextOccurrenceIsStrictlyAfterFromAndAtMostUntil) {
    struct Case {
        const char* text;
        const char* from;
        const char* until;  // empty: the latest supported instant
        const char* expected;
    };
    const std::vector<Case> cases = {
        {"0 0 * * * ?", "2030-01-01 10:00:00", "", "2030-01-01 11:00:00"},
        {"0 0 * * * ?", "2030-01-01 09:59:59", "", "2030-01-01 10:00:00"},
        {"0 0 * * * ?", "2030-01-01 09:59:59.500", "", "2030-01-01 10:00:00"},
        {"0 0 * * * ?", "2030-01-01 10:00:00.500", "", "2030-01-01 11:00:00"},
        {"* * * * * ?", "2030-01-01 10:00:00", "", "2030-01-01 10:00:01"},
        {"0 0 * * * ?", "2030-01-01 10:00:00", "2030-01-01 11:00:00", "2030-01-01 11:00:00"},
        {"0 0 * * * ?", "2030-01-01 10:00:00", "2030-01-01 10:59:59.999", ""},
        {"0 0 * * * ?", "2030-01-01 10:00:00", "2030-01-01 10:00:00", ""},
        {"0 0 0 1 1 ? 2030", "2030-01-01 00:00:00", "", ""},
        {"0 0 0 1 1 ? 2030", "2029-12-31 23:59:59", "", "2030-01-01 00:00:00"},
        {"* * * * * ?", "2099-12-31 23:59:58", "", "2099-12-31 23:59:59"},
        {"* * * * * ?", "2099-12-31 23:59:59", "", ""},
        {"* * * * * ?", "1969-12-31 23:59:59", "", "1970-01-01 00:00:00"},
        {"* * * * * ?", "1969-12-31 23:59:58", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " from " + c.from + " until " + c.until);
        const ptime until = *c.until ? T(c.until) : LatestSupportedInstant();
        const ptime got = Scheduler(c.text).NextOccurrence(T(c.from), until);
        EXPECT_EQ(Show(got), *c.expected ? Show(T(c.expected)) : "none");
    }
}

TEST(CrontabSchedulerTest, NextOccurrenceFromASpecialTimeFindsNothing) {
    const CCrontabScheduler every = Scheduler("* * * * * ?");
    for (ptime from : {ptime(bpt::not_a_date_time), ptime(bpt::pos_infin), ptime(bpt::neg_infin)}) {
        EXPECT_TRUE(every.NextOccurrence(from, LatestSupportedInstant()).is_not_a_date_time())
            << from;
    }
}

TEST(CrontabSchedulerTest, LastOccurrenceAtOrBeforeIncludesTheTimeItself) {
    struct Case {
        const char* text;
        const char* at;
        const char* expected;
    };
    const std::vector<Case> cases = {
        {"0 0 * * * ?", "2030-01-01 10:00:00", "2030-01-01 10:00:00"},
        {"0 0 * * * ?", "2030-01-01 10:59:59.900", "2030-01-01 10:00:00"},
        {"0 0 * * * ?", "2030-01-01 09:59:59", "2030-01-01 09:00:00"},
        {"0 0 0 1 1 ?", "2150-01-01 00:00:00", "2099-01-01 00:00:00"},
        {"0 0 0 1 1 ? 2030", "2050-06-01 00:00:00", "2030-01-01 00:00:00"},
        {"0 0 0 1 1 ? 2030", "2029-12-31 23:59:59", ""},
        {"0 0 0 30 2 ?", "2099-12-31 23:59:59", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " at " + c.at);
        const ptime got = Scheduler(c.text).LastOccurrenceAtOrBefore(T(c.at));
        EXPECT_EQ(Show(got), *c.expected ? Show(T(c.expected)) : "none");
    }
}

TEST(CrontabSchedulerTest, LastOccurrenceOnlyForBoundedYears) {
    struct Case {
        const char* text;
        const char* expected;  // empty: no last occurrence
    };
    const std::vector<Case> cases = {
        {"0 0 0 1 1 ? 2030", "2030-01-01 00:00:00"},
        {"0 0 0 1 1 ?", ""},
        {"0 0 0 1 1 ? *", ""},
        {"0 0 0 1 1 ? 2030,*/5", ""},
        {"* * * * * ? 1970/5", "2095-12-31 23:59:59"},
        {"0 0 12 ? * 5L 2030-2031", "2031-12-26 12:00:00"},
        {"59 59 23 31 12 ? 2099", "2099-12-31 23:59:59"},
        {"0 0 0 30 2 ? 2030", ""},
        {"0 0 0 ? * 5#6 2030", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const std::optional<ptime> got = Scheduler(c.text).LastOccurrence();
        if (*c.expected) {
            ASSERT_TRUE(got.has_value());
            EXPECT_EQ(Show(*got), Show(T(c.expected)));
        } else {
            EXPECT_FALSE(got.has_value()) << Show(got.value_or(ptime()));
        }
    }
}

}  // namespace
}  // namespace Zent::Scheduler

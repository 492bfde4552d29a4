// FindNext, FindPrevious, FindNth and the scheduler's view of them: calendar edge cases in
// both directions, the year bounds, and randomized comparisons with the naive reference
// and with stepping.

#include <algorithm>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>
#include <boost/date_time/gregorian/gregorian.hpp>
#include <boost/date_time/posix_time/posix_time.hpp>

#include "Scheduler/crontab/CronTab.h"
#include "Scheduler/crontab/CrontabParser.h"
#include "Scheduler/crontab/CrontabScheduler.h"
#include "tests/support/NaiveCrontab.h"

namespace Zent::Scheduler {
namespace {

namespace bg = boost::gregorian;
namespace bpt = boost::posix_time;
using bpt::ptime;
using Testing::Direction;
using Testing::NaiveDayMatches;
using Testing::NaiveSearch;

ptime T(const std::string& text) {
    return bpt::time_from_string(text);
}

std::string Show(ptime t) {
    return t.is_not_a_date_time() ? "none" : bpt::to_simple_string(t);
}

ptime Find(const CCronTab& tab, ptime t, Direction direction) {
    return direction == Direction::kNext ? FindNext(tab, t) : FindPrevious(tab, t);
}

// Crontab texts that cover every item kind, and start times near month ends and allowed years.
class CaseGenerator {
public:
    explicit CaseGenerator(std::uint32_t seed) : rng_(seed) {}

    std::uint32_t Draw() { return rng_(); }

    std::string Text() {
        static const Items kTime = {"*", "*/s", "a", "a-b", "a-b/s", "a/s", "R", "R/a"};
        static const Items kDays = {"*", "a",   "a-b", "a-b/s", "a/s",  "*/s",
                                    "L", "L-o", "LW",  "aW",    "a-bW", "R"};
        static const Items kWeekdays = {"*",    "a",     "a-b", "a-b/s", "aL", "a#n",
                                        "a-bL", "a-b#n", "*/s", "a/s",   "R"};
        static const Items kMonths = {"*", "2", "a", "a-b", "*/s", "a/s"};
        static const Items kYears = {"*", "*/s", "a", "a-b", "a/s", "R"};
        const bool byWeekday = Chance(45);
        std::string text =
            List(kTime, 0, 59, 2) + " " + List(kTime, 0, 59, 2) + " " + List(kTime, 0, 23, 2);
        text += " " + (byWeekday ? "?" : List(kDays, 1, 31, Chance(50) ? 1 : 3));
        text += " " + List(kMonths, 1, 12, 3);
        text += " " + (byWeekday ? List(kWeekdays, 0, 6, Chance(50) ? 1 : 3) : "?");
        return Chance(55) ? text + " " + List(kYears, 1970, 2099, 3) : text;
    }

    ptime Start(const CCronTab& tab) {
        unsigned year = Pick(1970, 2099);
        if (!tab.Year().IsOpenEnded() && Chance(60)) {
            std::vector<unsigned> years;
            for (unsigned y = 1970; y <= 2099; ++y) {
                if (tab.Year().Contains(y)) years.push_back(y);
            }
            year = std::clamp(years[Pick(0, years.size() - 1)] + Pick(0, 4) - 2, 1970u, 2099u);
        }
        const unsigned month = Pick(1, 12);
        const unsigned length = bg::date(year, month, 1).end_of_month().day();
        const unsigned day = Chance(15) ? 1 : Chance(45) ? length - Pick(0, 3) : Pick(1, length);
        bpt::time_duration tod(Pick(0, 23), Pick(0, 59), Pick(0, 59));
        if (Chance(25)) tod = bpt::time_duration(0, 0, 0);
        if (Chance(20)) tod = bpt::time_duration(23, 59, 59);
        if (Chance(10)) tod += bpt::microseconds(Pick(1, 999999));
        return ptime(bg::date(year, month, day), tod);
    }

private:
    using Items = std::vector<std::string_view>;

    unsigned Pick(unsigned lo, unsigned hi) { return lo + rng_() % (hi - lo + 1); }
    bool Chance(unsigned percent) { return rng_() % 100 < percent; }
    static std::string N(unsigned v) { return std::to_string(v); }

    std::string List(const Items& items, unsigned lo, unsigned hi, unsigned most) {
        std::string list;
        for (unsigned n = Pick(1, most); n > 0; --n)
            list += (list.empty() ? "" : ",") + Item(items[Pick(0, items.size() - 1)], lo, hi);
        return list;
    }
    // Fills a pattern: `a` a value, `b` a value not below it, `s` a step, `o` an offset from
    // the month's last day, `n` which of the month's weekdays.
    std::string Item(std::string_view pattern, unsigned lo, unsigned hi) {
        std::string item;
        unsigned a = lo;
        for (char c : pattern) {
            if (c == 'a') {
                item += N(a = Pick(lo, hi));
            } else if (c == 'b') {
                item += N(Pick(a, hi));
            } else if (c == 's') {
                item += N(Pick(1, (hi - lo) / 2 + 5));
            } else if (c == 'o') {
                item += N(Chance(80) ? Pick(0, 6) : Pick(7, 31));
            } else if (c == 'n') {
                item += N(Chance(80) ? Pick(1, 5) : Pick(0, 6));
            } else {
                item += c;
            }
        }
        return item;
    }

    std::mt19937 rng_;
};

// The searches: FindNext, FindPrevious, and the scheduler's next occurrence strictly after
// a time, last at or before it, and last of all.
enum Search { kNext, kPrev, kAfter, kAtOrBefore, kLast };

ptime Occurrence(const std::shared_ptr<CCronTab>& tab, ptime from, Search search) {
    const CCrontabScheduler scheduler(tab);
    switch (search) {
        case kNext:
            return FindNext(*tab, from);
        case kPrev:
            return FindPrevious(*tab, from);
        case kAfter:
            return scheduler.NextOccurrence(from, LatestSupportedInstant());
        case kAtOrBefore:
            return scheduler.LastOccurrenceAtOrBefore(from);
        case kLast:
            return scheduler.LastOccurrence().value_or(ptime());
    }
    return {};
}

struct SearchCase {
    const char* text;
    const char* from;  // empty for kLast
    Search search;
    const char* expected;  // empty: no occurrence
};

TEST(CronTabSearchTest, EdgeCasesOfEverySearch) {
    const std::vector<SearchCase> cases = {
        // month ends and leap years
        {"0 0 0 31 * ?", "2030-01-31 00:00:01", kNext, "2030-03-31 00:00:00"},
        {"0 0 0 29 2 ?", "2028-02-28 23:59:59", kPrev, "2024-02-29 00:00:00"},
        {"0 0 0 29 2 ?", "1972-02-28 23:59:59", kPrev, ""},
        {"0 0 0 L 2 ?", "2024-01-15 00:00:00", kNext, "2024-02-29 00:00:00"},
        {"0 0 0 L-30 * ?", "2030-02-01 00:00:01", kNext, "2030-03-01 00:00:00"},
        // nearest weekday: June 2030 starts on a Saturday and ends on a Sunday
        {"0 0 9 1W * ?", "2030-05-02 00:00:00", kNext, "2030-06-03 09:00:00"},
        {"0 0 9 1W * ?", "2030-06-30 00:00:00", kPrev, "2030-06-03 09:00:00"},
        {"0 0 9 15W * ?", "2030-06-01 00:00:00", kNext, "2030-06-14 09:00:00"},
        {"0 0 9 LW * ?", "2030-07-01 00:00:00", kPrev, "2030-06-28 09:00:00"},
        {"0 0 9 31W * ?", "2030-02-01 00:00:00", kNext, "2030-03-29 09:00:00"},
        // last and n-th weekdays
        {"0 0 0 ? * 5L", "2030-06-01 00:00:00", kNext, "2030-06-28 00:00:00"},
        {"0 0 12 ? * 5#5", "2030-06-01 00:00:00", kNext, "2030-08-30 12:00:00"},
        // carries never wrap a field around
        {"0 0 0 1 * ?", "2030-01-15 00:00:00", kNext, "2030-02-01 00:00:00"},
        {"0 30 * * * ?", "2030-12-31 23:30:01", kNext, "2031-01-01 00:30:00"},
        {"0 0 0 1 1 ?", "2030-01-01 00:00:01", kPrev, "2030-01-01 00:00:00"},
        // a month reached after an allowed month without days starts afresh
        {"0 0 0 30 2,3 ?", "2026-12-31 00:00:00", kNext, "2027-03-30 00:00:00"},
        {"0 0 */6 ? 2,3 5#5 */4", "2024-10-29 17:29:01", kNext, "2030-03-29 00:00:00"},
        {"59 59 23 30 1,2 ?", "2027-03-01 00:00:00", kPrev, "2027-01-30 23:59:59"},
        // fractions of a second are dropped
        {"* * * * * ?", "2030-06-01 12:00:00.500", kNext, "2030-06-01 12:00:00"},
        // the years 1970..2099
        {"* * * * * ?", "2100-01-01 00:00:00", kNext, ""},
        {"* * * * * ?", "1969-12-31 23:59:59", kNext, ""},
        {"* * * * * ?", "2099-12-31 23:59:59.999", kNext, "2099-12-31 23:59:59"},
        {"* * * * * ?", "2150-06-01 00:00:00", kPrev, "2099-12-31 23:59:59"},
        {"0 0 12 * * ? 2030", "2099-12-31 23:59:59.999", kPrev, "2030-12-31 12:00:00"},
        {"0 0 0 1 1 ? 2099", "1970-01-01 00:00:00", kNext, "2099-01-01 00:00:00"},
        // the scheduler: strictly after (a fraction counts), at or before, the last of all
        {"0 0 * * * ?", "2030-01-01 09:59:59.500", kAfter, "2030-01-01 10:00:00"},
        {"0 0 0 1 1 ? 2030", "2030-01-01 00:00:00", kAfter, ""},
        {"* * * * * ?", "2099-12-31 23:59:59", kAfter, ""},
        {"* * * * * ?", "1969-12-31 23:59:59", kAfter, "1970-01-01 00:00:00"},
        {"0 0 0 1 1 ?", "2150-01-01 00:00:00", kAtOrBefore, "2099-01-01 00:00:00"},
        {"0 0 0 1 1 ? 2030", "2029-12-31 23:59:59", kAtOrBefore, ""},
        {"0 0 0 1 1 ? 2030", "", kLast, "2030-01-01 00:00:00"},
        {"* * * * * ? 1970/5", "", kLast, "2095-12-31 23:59:59"},
        {"0 0 12 ? * 5L 2030-2031", "", kLast, "2031-12-26 12:00:00"},
        {"0 0 0 30 2 ? 2030", "", kLast, ""},
    };
    CCrontabParser parser;
    for (const SearchCase& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " from " + c.from + " search " +
                     std::to_string(c.search));
        const ptime got = Occurrence(parser.Parse(c.text), *c.from ? T(c.from) : ptime(), c.search);
        EXPECT_EQ(Show(got), *c.expected ? Show(T(c.expected)) : "none");
    }
}

TEST(CronTabSearchTest, TheSchedulerStopsAtItsLimit) {
    const CCrontabScheduler hourly(CCrontabParser().Parse("0 0 * * * ?"));
    const ptime from = T("2030-01-01 10:00:00");
    EXPECT_EQ(Show(hourly.NextOccurrence(from, T("2030-01-01 11:00:00"))), "2030-Jan-01 11:00:00");
    EXPECT_EQ(Show(hourly.NextOccurrence(from, T("2030-01-01 10:59:59.999"))), "none");
    EXPECT_EQ(Show(hourly.NextOccurrence(from, from)), "none");
}

TEST(CronTabSearchTest, SpecialTimePointsFindNothing) {
    const auto tab = CCrontabParser().Parse("* * * * * ?");
    for (ptime t : {ptime(bpt::not_a_date_time), ptime(bpt::pos_infin), ptime(bpt::neg_infin)}) {
        EXPECT_TRUE(FindNext(*tab, t).is_not_a_date_time()) << t;
        EXPECT_TRUE(FindPrevious(*tab, t).is_not_a_date_time()) << t;
        EXPECT_TRUE(Occurrence(tab, t, kAfter).is_not_a_date_time()) << t;
    }
}

TEST(CronTabSearchTest, AFieldWithoutValuesIsReported) {
    CCrontabFieldDayOfMonth anyDay;
    anyDay.SetAnyValue(true);
    const CCronTab tab("? ? ? ? ? ?", anyDay, {}, {}, {}, {}, {}, {});  // built by hand
    for (Direction direction : {Direction::kNext, Direction::kPrevious}) {
        try {
            Find(tab, T("2030-01-01 00:00:00"), direction);
            ADD_FAILURE() << "no failure";
        } catch (const CCrontabValidationException& e) {
            EXPECT_STREQ(e.what(), "No value is set.");
        }
    }
}

TEST(CronTabSearchTest, AgreesWithTheNaiveReference) {
    CaseGenerator gen(20240917u);
    CCrontabParser parser([&gen] { return gen.Draw(); });
    int compared = 0, undecided = 0, failures = 0;

    // One search against the reference; gives the match found, if any.
    auto check = [&](const CCronTab& tab, ptime from, Direction direction) {
        const bool next = direction == Direction::kNext;
        const Testing::NaiveVerdict want = NaiveSearch(tab, from, direction, 4000);
        const ptime got = Find(tab, from, direction);
        std::string problem;
        if (!want.found) {
            // Only known: nothing matches from `from` through the days walked.
            ++undecided;
            const bool beyond = next ? got.date() > want.walkedTo : got.date() < want.walkedTo;
            if (!got.is_not_a_date_time() &&
                (!beyond || NaiveSearch(tab, got, direction, 0).found != got)) {
                problem = "nothing matches up to " + bg::to_simple_string(want.walkedTo);
            }
        } else if (++compared; got != *want.found) {
            problem = "expected " + Show(*want.found);
        } else if (!got.is_not_a_date_time() &&
                   Find(tab, got, next ? Direction::kPrevious : Direction::kNext) != got) {
            problem = "a match is not found again from itself";  // in the other direction
        }
        if (!problem.empty()) {
            ADD_FAILURE() << (next ? "FindNext(\"" : "FindPrevious(\"") << tab.GetText() << "\", "
                          << bpt::to_simple_string(from) << ") gave " << Show(got) << ": "
                          << problem;
            ++failures;
        }
        return want.found.value_or(ptime());
    };

    // Rare matches, mixed in with the generated texts.
    const std::vector<std::string> sparse = {
        "0 0 12 ? * 5#5",    "0 0 0 29 2 ?",        "0 0 9 LW * ?",
        "0 0 0 1 1 ? 2099",  "0 0 0 30 2,3 ?",      "0 0 */6 ? 2,3 5#5 */4",
        "0 0 0 31W 2,3,4 ?", "0 0 0 30 2 ?",        "59 59 23 L-2 * ? 1999,2000,2096",
        "0 0 0 ? 2 SUN#5",   "59 59 23 1W,15W 2 ?", "0 0 0 ? * 6L,1#5 1970-1972",
    };
    for (int i = 0; i < 3000 && failures < 20; ++i) {
        const auto tab = parser.Parse(i % 8 == 0 ? sparse[(i / 8) % sparse.size()] : gen.Text());
        // From the start time, then from just past each match found.
        const ptime from = gen.Start(*tab);
        const ptime next = check(*tab, from, Direction::kNext);
        if (!next.is_not_a_date_time()) check(*tab, next + bpt::seconds(1), Direction::kNext);
        const ptime previous = check(*tab, from, Direction::kPrevious);
        if (!previous.is_not_a_date_time())
            check(*tab, previous - bpt::seconds(1), Direction::kPrevious);

        // The month day set of the start month holds exactly the reference's days.
        const bg::date d = from.date();
        const CCrontabFieldDayOfMonth days(tab->DayOfMonth(), tab->DayOfWeek(), d.year(),
                                           d.month());
        for (unsigned day = 1; day <= 31; ++day) {
            const bool want = day <= d.end_of_month().day() &&
                              NaiveDayMatches(*tab, bg::date(d.year(), d.month(), day));
            if (days.Contains(day) != want) {
                ADD_FAILURE() << "month day set of \"" << tab->GetText() << "\" for " << d
                              << ": day " << day;
                ++failures;
                break;
            }
        }
    }
    EXPECT_EQ(failures, 0);
    EXPECT_GE(compared, (compared + undecided) * 9 / 10) << undecided << " searches undecided";
}

TEST(CronTabSearchTest, CountingAgreesWithSteppingMatchByMatch) {
    CaseGenerator gen(20261206u);
    CCrontabParser parser([&gen] { return gen.Draw(); });
    const std::vector<bpt::time_duration> spans = {
        bpt::seconds(90), bpt::hours(30), bpt::hours(24 * 400), bpt::hours(24 * 365 * 200)};
    int failures = 0;
    for (int i = 0; i < 400 && failures < 10; ++i) {
        const auto tab = parser.Parse(i % 7 == 0 ? "* * * * * ?" : gen.Text());
        // Starts just before 1970 count from its first second; ends past 2099 stop there.
        const ptime after = i % 40 == 0 ? T("1969-12-31 23:59:58.5") : gen.Start(*tab);
        const ptime until = after + spans[gen.Draw() % spans.size()] +
                            bpt::seconds(static_cast<long>(gen.Draw() % 86400));
        const std::uint64_t n = 1 + gen.Draw() % (i % 3 == 0 ? 4 : 3000);

        const CCrontabScheduler scheduler(tab);
        CountedMatches want;
        for (ptime t = after; want.count < n;) {
            if ((t = scheduler.NextOccurrence(t, until)).is_not_a_date_time()) break;
            want = {t, want.count + 1};
        }
        const CountedMatches got = scheduler.NthOccurrence(after, until, n);
        const std::string stepped = Show(want.last) + " #" + std::to_string(want.count);
        EXPECT_EQ(Show(got.last) + " #" + std::to_string(got.count), stepped)
            << "FindNth(\"" << tab->GetText() << "\", " << after << ", " << until << ", " << n;
        failures += Show(got.last) + " #" + std::to_string(got.count) != stepped;
    }
}

}  // namespace
}  // namespace Zent::Scheduler

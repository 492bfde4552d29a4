// FindNext and FindPrevious: calendar edge cases, both directions, the year bounds, and a
// randomized comparison with a slow but obviously correct day-by-day scan.

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <boost/date_time/gregorian/gregorian.hpp>
#include <boost/date_time/posix_time/posix_time.hpp>

#include "Scheduler/crontab/CronTab.h"
#include "Scheduler/crontab/CrontabFieldDayOfMonth.h"
#include "Scheduler/crontab/CrontabParser.h"

namespace Zent::Scheduler {
namespace {

namespace bg = boost::gregorian;
namespace bpt = boost::posix_time;
using bpt::ptime;

ptime T(const std::string& text) {
    return bpt::time_from_string(text);
}

std::string Show(ptime t) {
    return t.is_not_a_date_time() ? "none" : bpt::to_simple_string(t);
}

// ---------------------------------------------------------------------------------------
// The reference: decides every calendar fact with boost::gregorian and every field fact
// with the compiled fields' own values, one day and one second at a time.

// The Monday-to-Friday day of the month closest to `target`.
unsigned NearestWeekday(unsigned firstWeekday, unsigned length, unsigned target) {
    unsigned best = 0;
    unsigned bestDistance = 100;
    for (unsigned x = 1; x <= length; ++x) {
        const unsigned weekday = (firstWeekday + x - 1) % 7;
        if (weekday == 0 || weekday == 6) continue;
        const unsigned distance = x > target ? x - target : target - x;
        if (distance < bestDistance) {
            best = x;
            bestDistance = distance;
        }
    }
    return best;
}

bool DayMatches(const CCronTab& tab, bg::date d) {
    const unsigned day = d.day();
    const unsigned length = d.end_of_month().day();
    const unsigned weekday = d.day_of_week().as_number();
    const CCrontabFieldDayOfMonth& dom = tab.DayOfMonth();
    if (!dom.IsAnyValue()) {
        if (dom.Values().test(day - 1)) return true;
        for (unsigned offset : dom.LastDayOffsets()) {
            if (offset < length && day == length - offset) return true;
        }
        const std::set<std::uint16_t> nearest = dom.NearestWeekdayDays();
        std::set<unsigned> targets(nearest.begin(), nearest.end());
        if (dom.IsLastWeekdayOfMonth()) targets.insert(length);
        const unsigned firstWeekday = bg::date(d.year(), d.month(), 1).day_of_week().as_number();
        for (unsigned target : targets) {
            if (target <= length && NearestWeekday(firstWeekday, length, target) == day) {
                return true;
            }
        }
        return false;
    }
    const CCrontabFieldDayOfWeek& dow = tab.DayOfWeek();
    if (dow.Values().test(weekday)) return true;
    if (dow.LastWeekdays().count(static_cast<std::uint16_t>(weekday)) && day + 7 > length) {
        return true;
    }
    const std::pair<std::uint16_t, std::uint16_t> nth(weekday, (day - 1) / 7 + 1);
    return dow.NthWeekdays().count(nth) > 0;
}

bool Matches(const CCronTab& tab, ptime t) {
    if (t.is_special() || t.time_of_day().fractional_seconds() != 0) return false;
    const bg::date d = t.date();
    const bpt::time_duration tod = t.time_of_day();
    return tab.Year().Contains(d.year()) && tab.Month().Contains(d.month()) && DayMatches(tab, d) &&
           tab.Hour().Contains(tod.hours()) && tab.Minute().Contains(tod.minutes()) &&
           tab.Second().Contains(tod.seconds());
}

std::optional<bpt::time_duration> FirstTimeFrom(const CCronTab& tab, int from) {
    const int h0 = from / 3600, m0 = from / 60 % 60, s0 = from % 60;
    for (int h = h0; h < 24; ++h) {
        if (!tab.Hour().Contains(h)) continue;
        for (int m = (h == h0 ? m0 : 0); m < 60; ++m) {
            if (!tab.Minute().Contains(m)) continue;
            for (int s = (h == h0 && m == m0 ? s0 : 0); s < 60; ++s) {
                if (tab.Second().Contains(s)) return bpt::time_duration(h, m, s);
            }
        }
    }
    return std::nullopt;
}

std::optional<bpt::time_duration> LastTimeUpTo(const CCronTab& tab, int upTo) {
    const int h0 = upTo / 3600, m0 = upTo / 60 % 60, s0 = upTo % 60;
    for (int h = h0; h >= 0; --h) {
        if (!tab.Hour().Contains(h)) continue;
        for (int m = (h == h0 ? m0 : 59); m >= 0; --m) {
            if (!tab.Minute().Contains(m)) continue;
            for (int s = (h == h0 && m == m0 ? s0 : 59); s >= 0; --s) {
                if (tab.Second().Contains(s)) return bpt::time_duration(h, m, s);
            }
        }
    }
    return std::nullopt;
}

// Days whose day rule is evaluated before the reference gives up.
constexpr int kMaxDayChecks = 4000;

struct NaiveResult {
    enum Kind { kFound, kNone, kGaveUp } kind = kNone;
    ptime at;       // kFound
    ptime horizon;  // kGaveUp: no match from t up to (excluding) this point, in scan order
};

NaiveResult Found(ptime at) {
    return {NaiveResult::kFound, at, ptime()};
}
NaiveResult GaveUp(ptime horizon) {
    return {NaiveResult::kGaveUp, ptime(), horizon};
}

NaiveResult NaiveNext(const CCronTab& tab, ptime t) {
    bg::date d = t.date();
    int from = static_cast<int>(t.time_of_day().total_seconds());
    int checks = 0;
    while (d <= bg::date(2099, 12, 31)) {
        if (!tab.Year().Contains(d.year())) {
            d = bg::date(d.year() + 1, 1, 1);
        } else if (!tab.Month().Contains(d.month())) {
            d = d.end_of_month() + bg::days(1);
        } else {
            if (++checks > kMaxDayChecks) return GaveUp(ptime(d));
            if (DayMatches(tab, d)) {
                if (auto at = FirstTimeFrom(tab, from)) return Found(ptime(d, *at));
            }
            d += bg::days(1);
        }
        from = 0;
    }
    return {};
}

NaiveResult NaivePrevious(const CCronTab& tab, ptime t) {
    bg::date d = t.date();
    int upTo = static_cast<int>(t.time_of_day().total_seconds());
    int checks = 0;
    while (d >= bg::date(1970, 1, 1)) {
        if (!tab.Year().Contains(d.year())) {
            d = bg::date(d.year(), 1, 1) - bg::days(1);
        } else if (!tab.Month().Contains(d.month())) {
            d = bg::date(d.year(), d.month(), 1) - bg::days(1);
        } else {
            if (++checks > kMaxDayChecks) {
                return GaveUp(ptime(d + bg::days(1)));
            }
            if (DayMatches(tab, d)) {
                if (auto at = LastTimeUpTo(tab, upTo)) return Found(ptime(d, *at));
            }
            d -= bg::days(1);
        }
        upTo = 86399;
    }
    return {};
}

// ---------------------------------------------------------------------------------------
// Generated crontab texts and start times, covering every item kind.

class CaseGenerator {
public:
    explicit CaseGenerator(std::uint32_t seed) : rng_(seed) {}

    std::uint32_t Draw() { return rng_(); }

    std::string Text() {
        const bool byWeekday = Chance(45);
        std::string text = List(&CaseGenerator::Second, 2);
        text += " " + List(&CaseGenerator::Second, 2);
        text += " " + List(&CaseGenerator::Hour, 2);
        text += " " + (byWeekday ? "?" : List(&CaseGenerator::DayOfMonth, Chance(50) ? 1 : 3));
        text += " " + List(&CaseGenerator::Month, 3);
        text += " " + (byWeekday ? List(&CaseGenerator::DayOfWeek, Chance(50) ? 1 : 3) : "?");
        if (Chance(55)) text += " " + List(&CaseGenerator::Year, 3);
        return text;
    }

    // A start time in 1970..2099, often at a month's end or near an allowed year.
    ptime Start(const CCronTab& tab) {
        unsigned year = Pick(1970, 2099);
        if (!tab.Year().IsOpenEnded() && Chance(60)) {
            std::vector<unsigned> years;
            for (unsigned y = 1970; y <= 2099; ++y) {
                if (tab.Year().Contains(y)) years.push_back(y);
            }
            year = years[Pick(0, static_cast<unsigned>(years.size() - 1))] + Pick(0, 4);
            year = std::clamp(year - 2, 1970u, 2099u);
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
    using Item = std::function<std::string()>;

    unsigned Pick(unsigned lo, unsigned hi) { return lo + rng_() % (hi - lo + 1); }
    bool Chance(unsigned percent) { return rng_() % 100 < percent; }
    std::string OneOf(const std::vector<Item>& items) { return items[Pick(0, items.size() - 1)](); }
    static std::string N(unsigned v) { return std::to_string(v); }

    std::string List(std::string (CaseGenerator::*item)(), unsigned most) {
        std::string list = (this->*item)();
        for (unsigned n = Pick(1, most); n > 1; --n)
            list += "," + (this->*item)();
        return list;
    }
    std::string Range(unsigned first, unsigned last) {
        const unsigned a = Pick(first, last);
        return N(a) + "-" + N(Pick(a, last));
    }
    std::string Plain(unsigned last) {
        return OneOf({
            [] { return "*"; },
            [&] { return "*/" + N(Pick(1, last / 2 + 1)); },
            [&] { return N(Pick(0, last)); },
            [&] { return Range(0, last); },
            [&] { return Range(0, last) + "/" + N(Pick(1, 10)); },
            [&] { return N(Pick(0, last)) + "/" + N(Pick(1, last + 5)); },
            [] { return "R"; },
            [&] { return "R/" + N(Pick(0, last)); },
        });
    }
    std::string Second() { return Plain(59); }
    std::string Hour() { return Plain(23); }
    std::string DayOfMonth() {
        return OneOf({
            [] { return "*"; },
            [&] { return Range(1, 31); },
            [&] { return N(Pick(1, 31)); },
            [&] { return N(Pick(28, 31)); },
            [&] { return Range(1, 31) + "/" + N(Pick(1, 12)); },
            [&] { return N(Pick(1, 31)) + "/" + N(Pick(1, 20)); },
            [&] { return "*/" + N(Pick(1, 16)); },
            [] { return "L"; },
            [&] { return "L-" + N(Chance(80) ? Pick(0, 6) : Pick(7, 31)); },
            [] { return "LW"; },
            [&] { return N(Chance(50) ? Pick(1, 3) : Pick(1, 31)) + "W"; },
            [&] { return Range(1, 31) + "W"; },
            [] { return "R"; },
        });
    }
    std::string Weekday(unsigned v) {
        static const char* const kNames[] = {"SUN", "mon", "Tue",     "WEDNESDAY",
                                             "thu", "Fri", "saturday"};
        if (v == 0 && Chance(30)) return "7";
        return Chance(30) ? kNames[v] : N(v);
    }
    std::string DayOfWeek() {
        const unsigned a = Pick(0, 6);
        const std::string range = Weekday(a) + "-" + Weekday(Pick(a, 6));
        return OneOf({
            [] { return "*"; },
            [&] { return Weekday(a); },
            [&] { return range; },
            [&] { return range + "/" + N(Pick(1, 4)); },
            [&] { return Weekday(a) + "L"; },
            [&] { return Weekday(a) + "#" + N(Chance(80) ? Pick(1, 5) : Pick(0, 6)); },
            [&] { return range + (Chance(50) ? "L" : "#" + N(Pick(1, 5))); },
            [&] { return "*/" + N(Pick(1, 4)); },
            [&] { return N(a) + "/" + N(Pick(1, 7)); },
            [] { return "R"; },
        });
    }
    std::string Month() {
        static const char* const kNames[] = {"jan",  "FEB", "Mar", "april", "May", "jun",
                                             "JULY", "aug", "sep", "Oct",   "nov", "december"};
        return OneOf({
            [] { return "*"; },
            [] { return "2"; },
            [&] { return N(Pick(1, 12)); },
            [&] { return kNames[Pick(0, 11)]; },
            [&] { return Range(1, 12); },
            [&] { return "*/" + N(Pick(1, 6)); },
            [&] { return N(Pick(1, 12)) + "/" + N(Pick(1, 6)); },
        });
    }
    std::string Year() {
        return OneOf({
            [] { return "*"; },
            [&] { return "*/" + N(Pick(1, 30)); },
            [&] { return N(Pick(1970, 2099)); },
            [&] { return N(Chance(50) ? Pick(1970, 1975) : Pick(2094, 2099)); },
            [&] {
                const unsigned a = Pick(1970, 2099);
                return N(a) + "-" + N(std::min(2099u, a + Pick(0, 10)));
            },
            [&] { return N(Pick(1970, 2099)) + "/" + N(Pick(1, 40)); },
            [] { return "R"; },
        });
    }

    std::mt19937 rng_;
};

// ---------------------------------------------------------------------------------------

enum class Direction { kNext, kPrevious };

struct SearchCase {
    const char* text;
    const char* from;
    Direction direction;
    const char* expected;  // empty: no occurrence
};

constexpr Direction kNext = Direction::kNext;
constexpr Direction kPrev = Direction::kPrevious;

TEST(CronTabSearchTest, CalendarEdgeCases) {
    const std::vector<SearchCase> cases = {
        // month ends and leap years
        {"0 0 0 31 * ?", "2030-01-31 00:00:01", kNext, "2030-03-31 00:00:00"},
        {"0 0 0 31 * ?", "2030-03-30 23:59:59", kPrev, "2030-01-31 00:00:00"},
        {"0 0 0 31 * ?", "2030-12-30 12:00:00", kPrev, "2030-10-31 00:00:00"},
        {"0 0 0 29 2 ?", "2025-03-01 00:00:00", kNext, "2028-02-29 00:00:00"},
        {"0 0 0 29 2 ?", "2028-02-28 23:59:59", kPrev, "2024-02-29 00:00:00"},
        {"0 0 0 29 2 ?", "1997-03-01 00:00:00", kNext, "2000-02-29 00:00:00"},
        {"0 0 0 29 2 ?", "2096-02-29 00:00:01", kNext, ""},
        {"0 0 0 29 2 ?", "1972-02-28 23:59:59", kPrev, ""},
        {"0 0 0 30 2 ?", "1970-01-01 00:00:00", kNext, ""},
        {"0 0 0 30 2 ?", "2099-12-31 23:59:59", kPrev, ""},
        {"0 0 0 L 2 ?", "2023-01-15 00:00:00", kNext, "2023-02-28 00:00:00"},
        {"0 0 0 L 2 ?", "2024-01-15 00:00:00", kNext, "2024-02-29 00:00:00"},
        {"0 0 0 L 2 ?", "2000-02-28 23:59:59", kNext, "2000-02-29 00:00:00"},
        {"0 0 0 L 2 ?", "2099-12-31 23:59:59", kPrev, "2099-02-28 00:00:00"},
        {"0 0 0 L-30 * ?", "2030-02-01 00:00:01", kNext, "2030-03-01 00:00:00"},
        {"0 0 0 L-30 * ?", "2030-04-01 00:00:00", kNext, "2030-05-01 00:00:00"},
        {"0 0 0 L-30 * ?", "2030-06-30 23:59:59", kPrev, "2030-05-01 00:00:00"},
        {"0 0 0 L-31 * ?", "2030-01-01 00:00:00", kNext, ""},
        {"0 0 0 L-31 * ?", "2030-01-01 00:00:00", kPrev, ""},
        // nearest weekday: June 2030 starts on a Saturday and ends on a Sunday
        {"0 0 9 1W * ?", "2030-05-02 00:00:00", kNext, "2030-06-03 09:00:00"},
        {"0 0 9 1W * ?", "2030-06-30 00:00:00", kPrev, "2030-06-03 09:00:00"},
        {"0 0 9 1W * ?", "2030-08-02 00:00:00", kNext, "2030-09-02 09:00:00"},
        {"0 0 9 15W * ?", "2030-06-01 00:00:00", kNext, "2030-06-14 09:00:00"},
        {"0 0 9 LW * ?", "2030-06-01 00:00:00", kNext, "2030-06-28 09:00:00"},
        {"0 0 9 LW * ?", "2030-07-01 00:00:00", kPrev, "2030-06-28 09:00:00"},
        {"0 0 9 LW * ?", "2030-08-01 00:00:00", kNext, "2030-08-30 09:00:00"},
        {"0 0 9 31W * ?", "2030-02-01 00:00:00", kNext, "2030-03-29 09:00:00"},
        {"0 0 9 31W * ?", "2030-04-01 00:00:00", kNext, "2030-05-31 09:00:00"},
        {"0 0 9 31W * ?", "2030-05-30 00:00:00", kPrev, "2030-03-29 09:00:00"},
        // last and n-th weekdays
        {"0 0 0 ? * 5L", "2030-06-01 00:00:00", kNext, "2030-06-28 00:00:00"},
        {"0 0 0 ? * 5L", "2030-06-27 23:59:59", kPrev, "2030-05-31 00:00:00"},
        {"0 0 12 ? * 5#5", "2030-03-29 12:00:01", kNext, "2030-05-31 12:00:00"},
        {"0 0 12 ? * 5#5", "2030-06-01 00:00:00", kNext, "2030-08-30 12:00:00"},
        {"0 0 12 ? * 5#5", "2030-08-29 00:00:00", kPrev, "2030-05-31 12:00:00"},
        {"0 0 8 ? * MON#2", "2030-06-01 00:00:00", kNext, "2030-06-10 08:00:00"},
        {"0 0 12 ? * 1#0", "2030-01-01 00:00:00", kNext, ""},
        {"0 0 12 ? * 1#0", "2030-01-01 00:00:00", kPrev, ""},
        {"0 0 12 ? * 5#6", "2030-01-01 00:00:00", kNext, ""},
        // carries never wrap a field around
        {"0 30 * * * ?", "2030-06-01 00:00:00", kPrev, "2030-05-31 23:30:00"},
        {"0 30 * * * ?", "2030-12-31 23:30:01", kNext, "2031-01-01 00:30:00"},
        {"59 59 23 31 12 ?", "2030-01-01 00:00:00", kNext, "2030-12-31 23:59:59"},
        {"59 59 23 31 12 ?", "2031-12-31 23:59:58", kPrev, "2030-12-31 23:59:59"},
        {"0 0 0 1 1 ?", "2030-01-01 00:00:01", kPrev, "2030-01-01 00:00:00"},
        // a month reached after an allowed month without days starts afresh
        {"0 0 0 30 2,3 ?", "2026-12-31 00:00:00", kNext, "2027-03-30 00:00:00"},
        {"0 0 */6 ? 2,3 5#5 */4", "2024-10-29 17:29:01", kNext, "2030-03-29 00:00:00"},
        {"0 0 0 30 2,3 ?", "2027-02-15 00:00:00", kPrev, "2026-03-30 00:00:00"},
        {"59 59 23 30 1,2 ?", "2027-03-01 00:00:00", kPrev, "2027-01-30 23:59:59"},
        // fractions of a second are dropped
        {"* * * * * ?", "2030-06-01 12:00:00.500", kNext, "2030-06-01 12:00:00"},
        {"* * * * * ?", "2030-06-01 12:00:00.500", kPrev, "2030-06-01 12:00:00"},
        {"30 * * * * ?", "2030-06-01 12:00:30.999999", kNext, "2030-06-01 12:00:30"},
        // the years 1970..2099
        {"* * * * * ?", "2100-01-01 00:00:00", kNext, ""},
        {"* * * * * ?", "1969-12-31 23:59:59", kNext, ""},
        {"* * * * * ?", "1969-12-31 23:59:59", kPrev, ""},
        {"* * * * * ?", "2099-12-31 23:59:59.999", kNext, "2099-12-31 23:59:59"},
        {"* * * * * ?", "2150-06-01 00:00:00", kPrev, "2099-12-31 23:59:59"},
        {"* * * * * ?", "1970-01-01 00:00:00", kPrev, "1970-01-01 00:00:00"},
        {"0 0 12 * * ?", "1970-01-01 00:00:00", kPrev, ""},
        {"0 0 12 * * ?", "2099-12-31 12:00:01", kNext, ""},
        {"0 0 12 * * ? 2030", "2031-01-01 00:00:00", kNext, ""},
        {"0 0 12 * * ? 2030", "2029-12-31 12:00:01", kPrev, ""},
        {"0 0 12 * * ? 2030", "2099-12-31 23:59:59.999", kPrev, "2030-12-31 12:00:00"},
        {"0 0 0 1 1 ? 2099", "1970-01-01 00:00:00", kNext, "2099-01-01 00:00:00"},
        {"0 0 0 1 1 ? 1970", "2099-12-31 23:59:59", kPrev, "1970-01-01 00:00:00"},
        {"0 0 0 1 1 ? 1970", "1970-01-01 00:00:00", kNext, "1970-01-01 00:00:00"},
    };
    CCrontabParser parser;
    for (const SearchCase& c : cases) {
        const bool next = c.direction == kNext;
        SCOPED_TRACE(std::string(next ? "FindNext " : "FindPrevious ") + c.text + " from " +
                     c.from);
        auto tab = parser.Parse(c.text);
        const ptime got = next ? FindNext(*tab, T(c.from)) : FindPrevious(*tab, T(c.from));
        const std::string expected = *c.expected ? Show(T(c.expected)) : "none";
        EXPECT_EQ(Show(got), expected);
    }
}

TEST(CronTabSearchTest, SpecialTimePointsFindNothing) {
    CCrontabParser parser;
    auto tab = parser.Parse("* * * * * ?");
    for (ptime t : {ptime(bpt::not_a_date_time), ptime(bpt::pos_infin), ptime(bpt::neg_infin)}) {
        SCOPED_TRACE(Show(t));
        EXPECT_TRUE(FindNext(*tab, t).is_not_a_date_time());
        EXPECT_TRUE(FindPrevious(*tab, t).is_not_a_date_time());
    }
}

TEST(CronTabSearchTest, AFieldWithoutValuesIsReported) {
    auto full = [](auto field) {
        field.AddEvery(EverySpec());
        field.Compile();
        return field;
    };
    CCrontabFieldDayOfMonth dayOfMonth;
    dayOfMonth.SetAnyValue(true);
    dayOfMonth.Compile();
    CCrontabFieldSecond noSecond;
    noSecond.Compile();
    const CCronTab tab("* * * ? * *", dayOfMonth, full(CCrontabFieldDayOfWeek()),
                       full(CCrontabFieldHour()), full(CCrontabFieldMinute()),
                       full(CCrontabFieldMonth()), noSecond, full(CCrontabFieldYear()));
    for (bool next : {true, false}) {
        try {
            next ? FindNext(tab, T("2030-01-01 00:00:00"))
                 : FindPrevious(tab, T("2030-01-01 00:00:00"));
            ADD_FAILURE() << "no failure";
        } catch (const CCrontabValidationException& e) {
            EXPECT_STREQ(e.what(), "No value is set.");
        }
    }
}

TEST(CronTabSearchTest, WalkingFromMatchToMatchVisitsEveryMatch) {
    // Consecutive searches from each match must step through the same list both ways.
    CCrontabParser parser;
    auto tab = parser.Parse("0 15,45 9,17 LW,1W,L-1 * ? 2030-2031");
    std::vector<ptime> forward;
    for (ptime t = FindNext(*tab, T("2030-01-01 00:00:00")); !t.is_not_a_date_time();
         t = FindNext(*tab, t + bpt::seconds(1))) {
        forward.push_back(t);
    }
    std::vector<ptime> backward;
    for (ptime t = FindPrevious(*tab, T("2031-12-31 23:59:59")); !t.is_not_a_date_time();
         t = FindPrevious(*tab, t - bpt::seconds(1))) {
        backward.insert(backward.begin(), t);
    }
    EXPECT_EQ(forward, backward);
    std::size_t expected = 0;
    for (bg::date d(2030, 1, 1); d <= bg::date(2031, 12, 31); d += bg::days(1)) {
        if (DayMatches(*tab, d)) expected += 4;
    }
    EXPECT_EQ(forward.size(), expected);
    for (ptime t : forward)
        EXPECT_TRUE(Matches(*tab, t)) << Show(t);
}

TEST(CronTabSearchTest, AgreesWithADayByDayScan) {
    CaseGenerator gen(20240917u);
    CCrontabParser parser([&gen] { return gen.Draw(); });
    constexpr int kCases = 3000;
    int compared = 0, undecided = 0, failures = 0;

    // One search against the reference; gives the match found, if any.
    auto check = [&](const CCronTab& tab, ptime from, bool next) {
        const NaiveResult want = next ? NaiveNext(tab, from) : NaivePrevious(tab, from);
        const ptime got = next ? FindNext(tab, from) : FindPrevious(tab, from);
        std::string problem;
        if (want.kind == NaiveResult::kGaveUp) {
            // Only known: nothing matches between `from` and the horizon.
            ++undecided;
            const bool beyond = next ? got >= want.horizon : got < want.horizon;
            if (!got.is_not_a_date_time() && (!beyond || !Matches(tab, got))) {
                problem = "no match before " + Show(want.horizon) + " in search order";
            }
        } else {
            ++compared;
            const ptime expected = want.kind == NaiveResult::kFound ? want.at : ptime();
            if (Show(got) != Show(expected)) {
                problem = "expected " + Show(expected);
            } else if (!got.is_not_a_date_time()) {
                // A match is its own result in both directions.
                const ptime back = next ? FindPrevious(tab, got) : FindNext(tab, got);
                if (back != got) problem = "not found again from itself: " + Show(back);
            }
        }
        if (!problem.empty()) {
            ADD_FAILURE() << (next ? "FindNext(\"" : "FindPrevious(\"") << tab.GetText() << "\", "
                          << bpt::to_simple_string(from) << ") gave " << Show(got) << ": "
                          << problem;
            ++failures;
        }
        return want.kind == NaiveResult::kFound ? want.at : ptime();
    };

    // Rare matches, mixed in with the generated texts.
    const std::vector<std::string> sparse = {
        "0 0 12 ? * 5#5",
        "0 0 0 29 2 ?",
        "0 0 9 LW * ?",
        "0 0 0 1 1 ? 2099",
        "0 0 0 30 2,3 ?",
        "0 0 */6 ? 2,3 5#5 */4",
        "59 59 23 L-2 * ? 1999,2000,2096",
        "0 0 0 31W 2,3,4 ?",
        "0 0 0 30 2 ?",
        "0 0 0 ? 2 SUN#5",
        "0 0 0 ? * 6L,1#5 1970-1972",
        "59 59 23 1W,15W 2 ?",
    };
    for (int i = 0; i < kCases && failures < 20; ++i) {
        const std::string text = i % 8 == 0 ? sparse[(i / 8) % sparse.size()] : gen.Text();
        std::shared_ptr<CCronTab> tab;
        try {
            tab = parser.Parse(text);
        } catch (const CCrontabValidationException& e) {
            ADD_FAILURE() << text << ": " << e.what();
            ++failures;
            continue;
        }
        // From the start time, then from just past each match found.
        const ptime from = gen.Start(*tab);
        const ptime next = check(*tab, from, true);
        if (!next.is_not_a_date_time()) check(*tab, next + bpt::seconds(1), true);
        const ptime previous = check(*tab, from, false);
        if (!previous.is_not_a_date_time()) check(*tab, previous - bpt::seconds(1), false);

        // The month day set of the start month holds exactly the reference's days.
        const bg::date d = from.date();
        const CCrontabFieldDayOfMonth days(tab->DayOfMonth(), tab->DayOfWeek(), d.year(),
                                           d.month());
        for (unsigned day = 1; day <= 31; ++day) {
            const bool want = day <= d.end_of_month().day() &&
                              DayMatches(*tab, bg::date(d.year(), d.month(), day));
            if (days.Contains(day) != want) {
                ADD_FAILURE() << "month day set of \"" << text << "\" for " << d.year() << "-"
                              << d.month().as_number() << ": day " << day;
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

        CountedMatches want;
        for (ptime t = after; want.count < n;) {
            t = FindNext(*tab, t + bpt::seconds(1));
            if (t.is_not_a_date_time() || t > until) break;
            want = {t, want.count + 1};
        }
        const CountedMatches got = FindNth(*tab, after, until, n);
        if (Show(got.last) != Show(want.last) || got.count != want.count) {
            ADD_FAILURE() << "FindNth(\"" << tab->GetText() << "\", " << Show(after) << ", "
                          << Show(until) << ", " << n << ") gave " << Show(got.last) << " ("
                          << got.count << "), stepping " << Show(want.last) << " (" << want.count
                          << ")";
            ++failures;
        }
    }
}

}  // namespace
}  // namespace Zent::Scheduler

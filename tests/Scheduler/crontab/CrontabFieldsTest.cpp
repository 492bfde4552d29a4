// Compile rules of the seven crontab fields: ranges, steps, bounds and step texts, the
// expansion of single values and random items, and the suffixed day items.

#include <array>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "Scheduler/crontab/CronTab.h"
#include "Scheduler/crontab/CrontabFieldDayOfMonth.h"
#include "Scheduler/crontab/CrontabFieldDayOfWeek.h"
#include "Scheduler/crontab/CrontabFields.h"
#include "Scheduler/crontab/CrontabParser.h"
#include "Scheduler/crontab/CrontabValidationException.h"

namespace Zent::Scheduler {
namespace {

using Values = std::vector<unsigned>;

enum class Field { Second, Minute, Hour, DayOfMonth, Month, DayOfWeek, Year };

template <typename F>
Values SetValues(const F& field) {
    Values out;
    for (unsigned v = F::kFirst; v <= F::kLast; ++v) {
        if (field.Contains(v)) out.push_back(v);
    }
    return out;
}

Values ValuesOf(const CCronTab& tab, Field f) {
    switch (f) {
        case Field::Second:
            return SetValues(tab.Second());
        case Field::Minute:
            return SetValues(tab.Minute());
        case Field::Hour:
            return SetValues(tab.Hour());
        case Field::DayOfMonth:
            return SetValues(tab.DayOfMonth());
        case Field::Month:
            return SetValues(tab.Month());
        case Field::DayOfWeek:
            return SetValues(tab.DayOfWeek());
        case Field::Year:
            return SetValues(tab.Year());
    }
    return {};
}

// A seven-field text that holds `item` in field f and harmless values elsewhere.
std::string TextWith(Field f, const std::string& item) {
    std::array<std::string, 7> parts{"0", "0", "0", "*", "*", "?", "*"};
    if (f == Field::DayOfWeek) parts[3] = "?";
    parts[static_cast<std::size_t>(f)] = item;
    std::string text;
    for (const auto& p : parts)
        text += (text.empty() ? "" : " ") + p;
    return text;
}

Values Span(unsigned first, unsigned last, unsigned step = 1) {
    Values out;
    for (unsigned v = first; v <= last; v += step)
        out.push_back(v);
    return out;
}

RangeSpec Range(std::uint16_t start, std::uint16_t end, std::uint16_t step) {
    RangeSpec r;
    r.start = start;
    r.end = end;
    r.step = step;
    return r;
}

StartStepSpec StartStep(std::uint16_t start, std::uint16_t step) {
    StartStepSpec s;
    s.start = start;
    s.step = step;
    return s;
}

EverySpec Every(std::uint16_t step) {
    EverySpec e;
    e.step = step;
    return e;
}

std::string FailureOf(CCrontabParser& parser, const std::string& text) {
    try {
        parser.Parse(text);
    } catch (const CCrontabValidationException& e) {
        return e.what();
    }
    return "<parsed>";
}

struct CompileCase {
    Field field;
    const char* item;
    Values values;           // expected when error is empty
    const char* error = "";  // the exact failure text
};

const std::vector<CompileCase>& CompileCases() {
    static const std::vector<CompileCase> cases = {
        {Field::Second, "*/5", Span(0, 55, 5)},
        {Field::Second, "5/0", {5}},
        {Field::Second, "50/7", {50, 57}},
        {Field::Second, "30/65530", {30}},
        {Field::Second, "59/65535", {59}},
        {Field::Second, "*/65535", {0}},
        {Field::Second, "0-59/0", {}, "Invalid range. Second step <= 0"},
        {Field::Second, "*/0", {}, "Invalid range. Second step <= 0"},
        {Field::Second, "30-10", {}, "Invalid range. Second: start=30 end=10"},
        {Field::Second, "70-80", {}, "Invalid range. Second: start=70 end=80"},
        {Field::Second, "70-80/0", {}, "Invalid range. Second: start=70 end=80"},
        {Field::Second, "65535", {}, "Invalid range. Second: start=65535 end=65535"},
        // whatever the text order: every items are checked first, then ranges, then the rest
        {Field::Second, "70-80,*/0", {}, "Invalid range. Second step <= 0"},
        {Field::Second, "70,65-66,80-90", {}, "Invalid range. Second: start=65 end=66"},
        {Field::Second, "1-2/0,61-62", {}, "Invalid range. Second step <= 0"},
        {Field::Second, "5,70,80", {}, "Invalid range. Second: start=70 end=70"},
        {Field::Minute, "30", {30}},
        {Field::Minute, "58-59,0-1", {0, 1, 58, 59}},
        {Field::Minute, "70", {}, "Invalid range. Hour: start=70 end=70"},
        {Field::Minute, "75/5", {}, "Invalid range. Hour: start=75 end=59"},
        {Field::Minute, "0-60", {}, "Invalid range. Hour: start=0 end=60"},
        {Field::Minute, "*/0", {}, "Invalid range. Hour step <= 0"},
        {Field::Hour, "1-10/3", {1, 4, 7, 10}},
        {Field::Hour, "22/1", {22, 23}},
        {Field::Hour, "5/0", {5}},
        {Field::Hour, "24", {}, "Invalid range. Hour: start=24 end=24"},
        {Field::Hour, "*/0", {}, "Invalid range. Hour step <= 0"},
        {Field::Hour, "3-3/0", {}, "Invalid range. Hour step <= 0"},
        {Field::DayOfMonth, "*/10", {1, 11, 21, 31}},
        {Field::DayOfMonth, "1-31/15", {1, 16, 31}},
        {Field::DayOfMonth, "4/65534", {4}},
        {Field::DayOfMonth, "0", {}, "Invalid range. DayOfMonth: start=0 end=0"},
        {Field::DayOfMonth, "32", {}, "Invalid range. DayOfMonth: start=32 end=32"},
        {Field::DayOfMonth, "0W", {}, "Invalid range. DayOfMonth: start=0 end=0"},
        {Field::DayOfMonth, "20-40W", {}, "Invalid range. DayOfMonth: start=20 end=40"},
        {Field::DayOfMonth, "*/0", {}, "Invalid range. DayOfMonth step <= 0"},
        {Field::Month, "*/5", {1, 6, 11}},
        {Field::Month, "feb/3", {2, 5, 8, 11}},
        {Field::Month, "12-1", {}, "Invalid range. Month: start=12 end=1"},
        {Field::Month, "*/0", {}, "Invalid range. Month step <= 0"},
        {Field::DayOfWeek, "*/2", {0, 2, 4, 6}},
        {Field::DayOfWeek, "2/3", {2, 5}},
        {Field::DayOfWeek, "sat-sun", {}, "Invalid range. DayOfWeek: start=6 end=0"},
        {Field::DayOfWeek, "*/0", {}, "Invalid range. DayOfWeek step <= 0"},
        {Field::Year, "2090/4", {2090, 2094, 2098}},
        {Field::Year, "1970/65535", {1970}},
        {Field::Year, "2099", {2099}},
        {Field::Year, "2100", {}, "Invalid range. Year: start=2100 end=2100"},
        {Field::Year, "1969-1975", {}, "Invalid range. Year: start=1969 end=1975"},
        {Field::Year, "30", {}, "Invalid range. Year: start=30 end=30"},
        {Field::Year, "*/0", {}, "Invalid range. Year step <= 0"},
    };
    return cases;
}

TEST(CrontabFieldsTest, ItemsCompileToTheirValuesOrFailWithTheFieldText) {
    CCrontabParser parser;
    for (const CompileCase& c : CompileCases()) {
        const std::string text = TextWith(c.field, c.item);
        SCOPED_TRACE(text);
        if (*c.error != '\0') {
            EXPECT_EQ(FailureOf(parser, text), c.error);
            continue;
        }
        std::shared_ptr<CCronTab> tab;
        ASSERT_NO_THROW(tab = parser.Parse(text));
        EXPECT_EQ(ValuesOf(*tab, c.field), c.values);
    }
}

// One parse per drawn number: what an `R` item becomes for a given 32-bit value.
struct RandomCase {
    Field field;
    const char* item;
    std::uint32_t drawn;
    Values values;
};

TEST(CrontabFieldsTest, RandomItemsUseTheDrawnNumber) {
    const std::vector<RandomCase> cases = {
        {Field::Second, "R", 100, {40}},
        {Field::Second, "r", 100, {40}},
        {Field::Second, "R", 0xFFFFFFFFu, {15}},
        {Field::Second, "R/0", 100, {40}},
        {Field::Minute, "R/15", 37, {7, 22, 37, 52}},
        {Field::Minute, "R/15", 14, {14, 29, 44, 59}},
        {Field::Hour, "R", 0xFFFFFFFFu, {15}},
        {Field::Hour, "R/65535", 23, {23}},
        {Field::DayOfMonth, "R", 30, {31}},
        {Field::DayOfMonth, "R", 31, {1}},
        {Field::DayOfMonth, "R/10", 3, {5, 15, 25}},
        // A random start past the field's last value is held at the last value.
        {Field::Month, "R/65535", 11, {12}},
        {Field::Month, "R/65535", 0, {2}},
        {Field::DayOfWeek, "R", 13, {6}},
        {Field::Year, "R", 129, {2099}},
        {Field::Year, "R/3000", 30, {2099}},
        {Field::Year, "R/1000", 30, {1970}},
    };
    for (const RandomCase& c : cases) {
        const std::string text = TextWith(c.field, c.item);
        SCOPED_TRACE(text + " drawn " + std::to_string(c.drawn));
        CCrontabParser parser([&c] { return c.drawn; });
        std::shared_ptr<CCronTab> tab;
        ASSERT_NO_THROW(tab = parser.Parse(text));
        EXPECT_EQ(ValuesOf(*tab, c.field), c.values);
    }
}

TEST(CrontabFieldsTest, EveryRandomItemDrawsItsOwnNumberInTextOrder) {
    std::uint32_t next = 7;
    CCrontabParser parser([&next] { return next++; });
    auto tab = parser.Parse("R,R R * * * ?");
    EXPECT_EQ(SetValues(tab->Second()), (Values{7, 8}));
    EXPECT_EQ(SetValues(tab->Minute()), (Values{9}));
}

TEST(CrontabFieldsTest, DefaultRandomSourceGivesExactlyOneValue) {
    CCrontabParser parser;
    auto tab = parser.Parse("R R R R * ? R");
    EXPECT_EQ(SetValues(tab->Second()).size(), 1u);
    EXPECT_EQ(SetValues(tab->Minute()).size(), 1u);
    EXPECT_EQ(SetValues(tab->Hour()).size(), 1u);
    EXPECT_EQ(SetValues(tab->DayOfMonth()).size(), 1u);
    EXPECT_EQ(SetValues(tab->Year()).size(), 1u);
}

TEST(CrontabFieldsTest, StartStepArithmeticDoesNotWrap) {
    CCrontabFieldSecond second;
    second.AddStartStep(StartStep(30, 65530));
    second.Compile();
    EXPECT_EQ(SetValues(second), (Values{30}));

    CCrontabFieldDayOfMonth day;
    day.AddStartStep(StartStep(4, 65534));
    day.Compile();
    EXPECT_EQ(SetValues(day), (Values{4}));

    CCrontabFieldYear year;
    year.AddEvery(Every(65535));
    year.AddStartStep(StartStep(2099, 65535));
    year.Compile();
    EXPECT_EQ(SetValues(year), (Values{1970, 2099}));
}

TEST(CrontabFieldsTest, NearestWeekdayRecordsSetNoPlainDay) {
    CCrontabFieldDayOfMonth day;
    RangeSpec w = Range(1, 9, 4);
    w.hasSuffix = true;
    w.suffix.nearestWeekday = true;
    day.AddRange(w);
    day.AddStartStep(StartStep(20, 0));
    day.Compile();
    EXPECT_EQ(SetValues(day), (Values{20}));
    EXPECT_EQ(day.NearestWeekdayDays(), (std::set<std::uint16_t>{1, 5, 9}));
    EXPECT_FALSE(day.IsAnyValue());
}

TEST(CrontabFieldsTest, AnyValueDayFieldsIgnoreTheirRecords) {
    CCrontabFieldDayOfMonth day;
    RangeSpec w = Range(15, 15, 1);
    w.hasSuffix = true;
    w.suffix.nearestWeekday = true;
    day.AddRange(w);
    day.AddRange(Range(40, 50, 0));
    day.SetAnyValue(true);
    EXPECT_NO_THROW(day.Compile());
    EXPECT_EQ(SetValues(day), Span(1, 31));
    EXPECT_TRUE(day.NearestWeekdayDays().empty());

    CCrontabFieldDayOfWeek week;
    week.AddRange(Range(9, 3, 0));
    week.SetAnyValue(true);
    EXPECT_NO_THROW(week.Compile());
    EXPECT_EQ(SetValues(week), Span(0, 6));
}

TEST(CrontabFieldsTest, OnlyEveryItemsMakeTheYearOpenEnded) {
    const std::vector<std::pair<const char*, bool>> cases = {
        {"0 0 0 1 1 ?", true},
        {"0 0 0 1 1 ? *", true},
        {"0 0 0 1 1 ? */5", true},
        {"0 0 0 1 1 ? 2030,*/5", true},
        {"0 0 0 1 1 ? 1970/5", false},
        {"0 0 0 1 1 ? 1970-2099", false},
        {"0 0 0 1 1 ? 2030,2040", false},
        {"0 0 0 1 1 ? R/2", false},
    };
    CCrontabParser parser;
    for (const auto& [text, open] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(parser.Parse(text)->Year().IsOpenEnded(), open);
    }
}

}  // namespace
}  // namespace Zent::Scheduler

// The crontab text format: field count, white space, the per-field grammars with their
// names and suffixes, and the exact failure texts users see.

#include <cstdint>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "Scheduler/crontab/CronTab.h"
#include "Scheduler/crontab/CrontabParser.h"
#include "Scheduler/crontab/CrontabValidationException.h"

namespace Zent::Scheduler {
namespace {

using Values = std::vector<unsigned>;
using Offsets = std::set<std::uint16_t>;

template <typename F>
Values SetValues(const F& field) {
    Values out;
    for (unsigned v = F::kFirst; v <= F::kLast; ++v) {
        if (field.Contains(v)) out.push_back(v);
    }
    return out;
}

std::string FailureOf(CCrontabParser& parser, const std::string& text) {
    try {
        parser.Parse(text);
    } catch (const CCrontabValidationException& e) {
        return e.what();
    }
    return "<parsed>";
}

const char* const kInvalid = "Invalid crontab string";
const char* const kSeconds = "Cannot parse the SECONDs field.";
const char* const kMinutes = "Cannot parse the MINUTEs field.";
const char* const kHours = "Cannot parse the HOURs field.";
const char* const kDayOfMonth = "Cannot parse the DayOfMonth field.";
const char* const kMonth = "Cannot parse the Month field.";
const char* const kDayOfWeek = "Cannot parse the DayOfWeek field.";
const char* const kYears = "Cannot parse the YEARs field.";
const char* const kBothDays = "Both dayOfMonth & dayOfWeek have values.";

TEST(CrontabParserTest, RejectedTextsReportTheirExactFailure) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        // field count
        {"", kInvalid},
        {" \t\n", kInvalid},
        {"0 0 12 * *", kInvalid},
        {"0 0 12 * * ? 2030 1", kInvalid},
        // white space outside the six ASCII characters separates nothing
        {"0\xC2\xA0"
         "0 0 12 * * ?",
         kSeconds},
        {"0\xA0"
         "0 0 12 * * ?",
         kSeconds},
        {"0 0 12 * * ?\xC2\xA0", kDayOfWeek},
        // seconds, minutes, hours: a token must be consumed completely
        {"5, * * * * ?", kSeconds},
        {",5 * * * * ?", kSeconds},
        {"70000 * * * * ?", kSeconds},
        {"65536 * * * * ?", kSeconds},
        {"*/65536 * * * * ?", kSeconds},
        {"-5 * * * * ?", kSeconds},
        {"+5 * * * * ?", kSeconds},
        {"*/ * * * * ?", kSeconds},
        {"** * * * * ?", kSeconds},
        {"1- * * * * ?", kSeconds},
        {"1-2-3 * * * * ?", kSeconds},
        {"1/2/3 * * * * ?", kSeconds},
        {"R-5 * * * * ?", kSeconds},
        {"5W * * * * ?", kSeconds},
        {"L * * * * ?", kSeconds},
        {"? * * * * ?", kSeconds},
        {"0 a * * * ?", kMinutes},
        {"0 1,,2 * * * ?", kMinutes},
        {"0 0 1.5 * * ?", kHours},
        {"0 0 mon * * ?", kHours},
        // day of month: `W` only after a number, `L` and `LW` upper case and alone
        {"0 0 0 W * ?", kDayOfMonth},
        {"0 0 0 *W * ?", kDayOfMonth},
        {"0 0 0 L5 * ?", kDayOfMonth},
        {"0 0 0 l * ?", kDayOfMonth},
        {"0 0 0 lw * ?", kDayOfMonth},
        {"0 0 0 1L * ?", kDayOfMonth},
        {"0 0 0 L- * ?", kDayOfMonth},
        {"0 0 0 L-3W * ?", kDayOfMonth},
        {"0 0 0 LW3 * ?", kDayOfMonth},
        {"0 0 0 5w * ?", kDayOfMonth},
        {"0 0 0 ?? * MON", kDayOfMonth},
        {"0 0 0 1#2 * ?", kDayOfMonth},
        // month: values only from the table, whose longest entry wins
        {"0 0 0 1 13 ?", kMonth},
        {"0 0 0 1 0 ?", kMonth},
        {"0 0 0 1 05 ?", kMonth},
        {"0 0 0 1 sept ?", kMonth},
        {"0 0 0 1 janu ?", kMonth},
        {"0 0 0 1 jan- ?", kMonth},
        {"0 0 0 1 ? MON", kMonth},
        // day of week
        {"0 0 0 ? * 01", kDayOfWeek},
        {"0 0 0 ? * 00", kDayOfWeek},
        {"0 0 0 ? * 8", kDayOfWeek},
        {"0 0 0 ? * sund", kDayOfWeek},
        {"0 0 0 ? * 5l", kDayOfWeek},
        {"0 0 0 ? * fril", kDayOfWeek},
        {"0 0 0 ? * MON#", kDayOfWeek},
        {"0 0 0 ? * #2", kDayOfWeek},
        {"0 0 0 ? * 5L#2", kDayOfWeek},
        {"0 0 0 ? * 5W", kDayOfWeek},
        {"0 0 0 ? * L", kDayOfWeek},
        {"0 0 0 ? * FR\xC4\xB0", kDayOfWeek},
        {"0 0 0 ? * M\xC3\x96N", kDayOfWeek},
        // year
        {"0 0 0 1 * ? x", kYears},
        {"0 0 0 1 * ? 2030-", kYears},
        {"0 0 0 1 * ? ?", kYears},
        // the two day fields
        {"0 0 12 * * *", kBothDays},
        {"0 0 12 ? * ?", kBothDays},
        {"0 0 12 1 * MON", kBothDays},
        {"0 0 12 L * 5L", kBothDays},
        // every token is parsed, in text order, before any field is compiled; fields
        // compile in text order and the day fields are compared last
        {"x y * * * ?", kSeconds},
        {"70 * * * * ? x", kYears},
        {"0 0 0 * 13 x", kMonth},
        {"70 0 0 * * ? 2100", "Invalid range. Second: start=70 end=70"},
        {"0 0 24 ? 12-1 MON", "Invalid range. Hour: start=24 end=24"},
        {"0 0 0 0 * ? 2100", "Invalid range. DayOfMonth: start=0 end=0"},
        {"0 0 0 0 * *", "Invalid range. DayOfMonth: start=0 end=0"},
        {"0 0 0 * * * 2100", "Invalid range. Year: start=2100 end=2100"},
        // within a field: `*` items, then ranges, then single values and steps
        {"70,30-10 * * * * ?", "Invalid range. Second: start=30 end=10"},
        {"70,30-10,*/0 * * * * ?", "Invalid range. Second step <= 0"},
        {"100,99 * * * * ?", "Invalid range. Second: start=100 end=100"},
        {"0 0 0 ? * 3-1,*/0", "Invalid range. DayOfWeek step <= 0"},
        {"0 0 0 ? * 12,1-7", kDayOfWeek},
        // weekday 7 becomes Sunday before the range is built
        {"0 0 0 ? * 1-7", "Invalid range. DayOfWeek: start=1 end=0"},
        {"0 0 0 ? * mon-sun", "Invalid range. DayOfWeek: start=1 end=0"},
        {"0 0 0 ? * 5-7/2", "Invalid range. DayOfWeek: start=5 end=0"},
    };
    CCrontabParser parser;
    for (const auto& [text, failure] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(FailureOf(parser, text), failure);
    }
}

TEST(CrontabParserTest, MonthNamesAndNumbersAreInterchangeable) {
    const std::vector<std::pair<const char*, Values>> cases = {
        {"JAN-mar", {1, 2, 3}},          {"1-3", {1, 2, 3}},     {"january-MARCH", {1, 2, 3}},
        {"jan,February,mAr", {1, 2, 3}}, {"May", {5}},           {"jUnE", {6}},
        {"10,11,12", {10, 11, 12}},      {"sep-DEC/2", {9, 11}}, {"DEC", {12}},
        {"nov-dec,1", {1, 11, 12}},
    };
    CCrontabParser parser;
    for (const auto& [month, values] : cases) {
        SCOPED_TRACE(month);
        auto tab = parser.Parse(std::string("0 0 0 1 ") + month + " ?");
        EXPECT_EQ(SetValues(tab->Month()), values);
    }
}

TEST(CrontabParserTest, WeekdayNamesAndNumbersAreInterchangeable) {
    const std::vector<std::pair<const char*, Values>> cases = {
        {"sunday,SAT", {0, 6}},
        {"0,6", {0, 6}},
        {"7,6", {0, 6}},
        {"SUN,saturday", {0, 6}},
        {"7", {0}},
        {"7-1", {0, 1}},
        {"THURSDAY", {4}},
        {"tue-thu", {2, 3, 4}},
        {"Mon-Fri/2", {1, 3, 5}},
        {"wednesday-friday", {3, 4, 5}},
    };
    CCrontabParser parser;
    for (const auto& [weekdays, values] : cases) {
        SCOPED_TRACE(weekdays);
        auto tab = parser.Parse(std::string("0 0 0 ? * ") + weekdays);
        EXPECT_EQ(SetValues(tab->DayOfWeek()), values);
        EXPECT_FALSE(tab->DayOfWeek().IsAnyValue());
    }
}

TEST(CrontabParserTest, DecimalNumbersMayHaveLeadingZeros) {
    CCrontabParser parser;
    auto tab = parser.Parse("007 05 00-02 09,05W * ? 02030");
    EXPECT_EQ(SetValues(tab->Second()), (Values{7}));
    EXPECT_EQ(SetValues(tab->Minute()), (Values{5}));
    EXPECT_EQ(SetValues(tab->Hour()), (Values{0, 1, 2}));
    EXPECT_EQ(SetValues(tab->DayOfMonth()), (Values{9}));
    EXPECT_EQ(tab->DayOfMonth().NearestWeekdayDays(), (Offsets{5}));
    EXPECT_EQ(SetValues(tab->Year()), (Values{2030}));

    EXPECT_EQ(parser.Parse("0 0 0 L-03 * ?")->DayOfMonth().LastDayOffsets(), (Offsets{3}));
    using Pair = std::pair<std::uint16_t, std::uint16_t>;
    EXPECT_EQ(parser.Parse("0 0 0 ? * 5#05")->DayOfWeek().NthWeekdays(), (std::set<Pair>{{5, 5}}));
}

TEST(CrontabParserTest, DayOfMonthItems) {
    struct Case {
        const char* item;
        Values values;
        Offsets lastOffsets;
        Offsets nearest;
        bool lastWeekday;
    };
    const std::vector<Case> cases = {
        {"L", {}, {0}, {}, false},
        {"L-3", {}, {3}, {}, false},
        {"L-31", {}, {31}, {}, false},
        {"L,L-0", {}, {0}, {}, false},
        {"LW", {}, {}, {}, true},
        {"1,L", {1}, {0}, {}, false},
        {"15W", {}, {}, {15}, false},
        {"1-5W", {}, {}, {1, 2, 3, 4, 5}, false},
        {"3,L-2,LW,10W", {3}, {2}, {10}, true},
        {"LW,L", {}, {0}, {}, true},
        {"2W,L", {}, {0}, {2}, false},
    };
    CCrontabParser parser;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.item);
        auto tab = parser.Parse(std::string("0 0 0 ") + c.item + " * ?");
        const auto& day = tab->DayOfMonth();
        EXPECT_FALSE(day.IsAnyValue());
        EXPECT_EQ(SetValues(day), c.values);
        EXPECT_EQ(day.LastDayOffsets(), c.lastOffsets);
        EXPECT_EQ(day.NearestWeekdayDays(), c.nearest);
        EXPECT_EQ(day.IsLastWeekdayOfMonth(), c.lastWeekday);
    }
}

TEST(CrontabParserTest, DayOfWeekSuffixesSetNoPlainWeekday) {
    using Pairs = std::set<std::pair<std::uint16_t, std::uint16_t>>;
    struct Case {
        const char* item;
        Values plain;
        Offsets last;
        Pairs nth;
    };
    const std::vector<Case> cases = {
        {"FRIL", {}, {5}, {}},
        {"5L", {}, {5}, {}},
        {"friL", {}, {5}, {}},
        {"FridayL", {}, {5}, {}},
        {"1-5L", {}, {1, 2, 3, 4, 5}, {}},
        {"*L", {}, {0, 1, 2, 3, 4, 5, 6}, {}},
        {"7L,sat#1", {}, {0}, {{6, 1}}},
        {"MON#2", {}, {}, {{1, 2}}},
        {"5#6", {}, {}, {{5, 6}}},
        {"3,MON#2,0-6/3#4", {3}, {}, {{0, 4}, {1, 2}, {3, 4}, {6, 4}}},
    };
    CCrontabParser parser;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.item);
        auto tab = parser.Parse(std::string("0 0 0 ? * ") + c.item);
        EXPECT_EQ(SetValues(tab->DayOfWeek()), c.plain);
        EXPECT_EQ(tab->DayOfWeek().LastWeekdays(), c.last);
        EXPECT_EQ(tab->DayOfWeek().NthWeekdays(), c.nth);
    }
}

TEST(CrontabParserTest, QuestionMarkAnywhereInADayListMakesTheFieldAny) {
    CCrontabParser parser;
    for (const char* text :
         {"0 0 0 1,? * MON", "0 0 0 ?,5 * MON", "0 0 0 99,? * MON", "0 0 0 L,?,15W * MON"}) {
        SCOPED_TRACE(text);
        std::shared_ptr<CCronTab> tab;
        ASSERT_NO_THROW(tab = parser.Parse(text));
        EXPECT_TRUE(tab->DayOfMonth().IsAnyValue());
        EXPECT_TRUE(tab->DayOfMonth().NearestWeekdayDays().empty());
        EXPECT_EQ(SetValues(tab->DayOfWeek()), (Values{1}));
    }
    for (const char* text : {"0 0 0 1 * MON,?", "0 0 0 1 * 1-7,?", "0 0 0 1 * ?,5#2"}) {
        SCOPED_TRACE(text);
        std::shared_ptr<CCronTab> tab;
        ASSERT_NO_THROW(tab = parser.Parse(text));
        EXPECT_TRUE(tab->DayOfWeek().IsAnyValue());
        EXPECT_EQ(SetValues(tab->DayOfMonth()), (Values{1}));
    }
    EXPECT_EQ(FailureOf(parser, "0 0 0 1,? * ?,MON"), kBothDays);
}

TEST(CrontabParserTest, WhiteSpaceIsNormalisedInTheKeptText) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"\t0\v0\f12\r*\n*  ?\n", "0 0 12 * * ?"},
        {"  0   0 12 * * ? 2030  ", "0 0 12 * * ? 2030"},
        {"0 0 12 ? jan MON", "0 0 12 ? jan MON"},
        {"0 \t\r\n\v\f 0 12 L-2 */2 ?", "0 0 12 L-2 */2 ?"},
    };
    CCrontabParser parser;
    for (const auto& [text, kept] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(parser.Parse(text)->GetText(), kept);
    }
}

TEST(CrontabParserTest, NothingCarriesOverFromAnEarlierParse) {
    CCrontabParser parser;
    auto first = parser.Parse("1,2 5 * L-2,LW,3W 3 ? 2030");
    EXPECT_EQ(FailureOf(parser, "1,2,3 0 0 ? * MON#2,FRIL x"), kYears);
    auto second = parser.Parse("5 * * ? * 2");
    EXPECT_EQ(SetValues(second->Second()), (Values{5}));
    EXPECT_EQ(SetValues(second->Minute()).size(), 60u);
    EXPECT_TRUE(second->DayOfMonth().IsAnyValue());
    EXPECT_TRUE(second->DayOfWeek().NthWeekdays().empty());
    EXPECT_TRUE(second->DayOfWeek().LastWeekdays().empty());
    EXPECT_EQ(SetValues(second->DayOfWeek()), (Values{2}));
    EXPECT_EQ(SetValues(second->Month()).size(), 12u);
    EXPECT_EQ(SetValues(second->Year()).size(), 130u);

    auto third = parser.Parse("0 0 0 4 * ?");
    EXPECT_TRUE(third->DayOfMonth().LastDayOffsets().empty());
    EXPECT_TRUE(third->DayOfMonth().NearestWeekdayDays().empty());
    EXPECT_FALSE(third->DayOfMonth().IsLastWeekdayOfMonth());
    EXPECT_EQ(SetValues(third->DayOfMonth()), (Values{4}));

    // The first crontab is untouched by the later parses.
    EXPECT_EQ(SetValues(first->Second()), (Values{1, 2}));
    EXPECT_EQ(first->DayOfMonth().LastDayOffsets(), (Offsets{2}));
    EXPECT_EQ(first->GetText(), "1,2 5 * L-2,LW,3W 3 ? 2030");
}

TEST(CrontabParserTest, AFailingRandomSourceFailsTheParseWithItsText) {
    CCrontabParser parser([]() -> std::uint32_t { throw std::runtime_error("no entropy"); });
    EXPECT_EQ(FailureOf(parser, "0 R * * * ?"), "no entropy");
    EXPECT_NO_THROW(parser.Parse("0 0 * * * ?"));
}

TEST(CrontabParserTest, RandomItemsAreDrawnAnewAtEveryParse) {
    std::uint32_t next = 0;
    CCrontabParser parser([&next] { return next++; });
    EXPECT_EQ(SetValues(parser.Parse("R * * * * ?")->Second()), (Values{0}));
    EXPECT_EQ(SetValues(parser.Parse("R * * * * ?")->Second()), (Values{1}));
    EXPECT_EQ(SetValues(parser.Parse("R/0 * * * * ?")->Second()), (Values{2}));
    EXPECT_EQ(next, 3u);
}

}  // namespace
}  // namespace Zent::Scheduler

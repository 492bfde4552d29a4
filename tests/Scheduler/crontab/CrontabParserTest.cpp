// The crontab text format: field count, white space, each field's items with their names,
// steps, bounds and suffixes, the order in which failures are found and their exact texts.

#include <cstdint>
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

enum Field { kSecond, kMinute, kHour, kDayOfMonth, kMonth, kDayOfWeek, kYear, kText };

// A field's values, runs as "first-last": {1, 2, 3, 7} is "1-3,7".
template <typename F>
std::string Values(const F& field) {
    std::string out;
    for (unsigned v = F::kFirst; v <= F::kLast; ++v) {
        if (!field.Contains(v)) continue;
        const unsigned first = v;
        while (v < F::kLast && field.Contains(v + 1))
            ++v;
        out += (out.empty() ? "" : ",") + std::to_string(first) +
               (v > first ? "-" + std::to_string(v) : "");
    }
    return out;
}

// One field as the tests spell it: values (`?` for a day field left open), then the day
// fields' suffixed items (`L-n`, `nW`, `LW`, `wL`, `w#n`); " open" for a year field with a
// `*` item.
std::string Describe(const CCronTab& tab, Field field) {
    std::string out;
    auto add = [&out](const std::string& item) { out += (out.empty() ? "" : ",") + item; };
    switch (field) {
        case kSecond:
            return Values(tab.Second());
        case kMinute:
            return Values(tab.Minute());
        case kHour:
            return Values(tab.Hour());
        case kMonth:
            return Values(tab.Month());
        case kYear:
            return Values(tab.Year()) + (tab.Year().IsOpenEnded() ? " open" : "");
        case kText:
            return tab.GetText();
        case kDayOfMonth:
            out = tab.DayOfMonth().IsAnyValue() ? "?" : Values(tab.DayOfMonth());
            for (auto offset : tab.DayOfMonth().LastDayOffsets())
                add("L-" + std::to_string(offset));
            for (auto day : tab.DayOfMonth().NearestWeekdayDays())
                add(std::to_string(day) + "W");
            if (tab.DayOfMonth().IsLastWeekdayOfMonth()) add("LW");
            return out;
        case kDayOfWeek:
            out = tab.DayOfWeek().IsAnyValue() ? "?" : Values(tab.DayOfWeek());
            for (auto weekday : tab.DayOfWeek().LastWeekdays())
                add(std::to_string(weekday) + "L");
            for (auto [weekday, n] : tab.DayOfWeek().NthWeekdays())
                add(std::to_string(weekday) + "#" + std::to_string(n));
            return out;
    }
    return {};
}

// The described field, or the failure text.
std::string Outcome(CCrontabParser& parser, const std::string& text, Field field) {
    try {
        return Describe(*parser.Parse(text), field);
    } catch (const CCrontabValidationException& e) {
        return e.what();
    }
}

const char* const kInvalid = "Invalid crontab string";
const char* const kSeconds = "Cannot parse the SECONDs field.";
const char* const kMinutes = "Cannot parse the MINUTEs field.";
const char* const kHours = "Cannot parse the HOURs field.";
const char* const kDays = "Cannot parse the DayOfMonth field.";
const char* const kMonths = "Cannot parse the Month field.";
const char* const kWeekdays = "Cannot parse the DayOfWeek field.";
const char* const kYears = "Cannot parse the YEARs field.";
const char* const kBothDays = "Both dayOfMonth & dayOfWeek have values.";

struct ParseCase {
    const char* text;
    Field field;
    std::string expected;     // Describe of the field, or the failure text
    std::uint32_t drawn = 0;  // what the random source gives for `R`
};

TEST(CrontabParserTest, TextsGiveTheirFieldsOrTheirExactFailure) {
    const std::vector<ParseCase> cases = {
        // field count and white space: only the six ASCII blanks separate, and the kept
        // text is normalised
        {"", kText, kInvalid},
        {"0 0 12 * * ? 2030 1", kText, kInvalid},
        {"0\xC2\xA0\x30 0 12 * * ?", kText, kSeconds},
        {"0 0 12 * * ?\xC2\xA0", kText, kWeekdays},
        {"\t0\v0\f12\r*\n*  ?\n", kText, "0 0 12 * * ?"},
        {"0 \t\r\n\v\f 0 12 L-2 */2 ?", kText, "0 0 12 L-2 */2 ?"},
        // seconds, minutes, hours: a token must be consumed completely
        {"5, * * * * ?", kSecond, kSeconds},
        {"65536 * * * * ?", kSecond, kSeconds},
        {"*/ * * * * ?", kSecond, kSeconds},
        {"R-5 * * * * ?", kSecond, kSeconds},
        {"L * * * * ?", kSecond, kSeconds},
        {"0 a * * * ?", kMinute, kMinutes},
        {"0 0 1.5 * * ?", kHour, kHours},
        {"007 0 0 * * ?", kSecond, "7"},
        {"0 0 00-02 * * ?", kHour, "0-2"},
        // day of month: `W` only after a number, `L` and `LW` upper case and alone
        {"0 0 0 W * ?", kDayOfMonth, kDays},
        {"0 0 0 1L * ?", kDayOfMonth, kDays},
        {"0 0 0 ?? * MON", kDayOfMonth, kDays},
        {"0 0 0 L * ?", kDayOfMonth, "L-0"},
        {"0 0 0 L,L-0,L-03,L-31 * ?", kDayOfMonth, "L-0,L-3,L-31"},
        {"0 0 0 1-5W,1,L * ?", kDayOfMonth, "1,L-0,1W,2W,3W,4W,5W"},
        {"0 0 0 3,L-2,LW,10W * ?", kDayOfMonth, "3,L-2,10W,LW"},
        {"0 0 0 09,05W * ?", kDayOfMonth, "9,5W"},
        {"0 0 0 1-9/4W,20/0 * ?", kDayOfMonth, "20,1W,5W,9W"},
        // `?` anywhere in a day list leaves that field open
        {"0 0 0 1-5W,?,15W * MON", kDayOfMonth, "?"},
        {"0 0 0 99,40-50/0,? * MON", kDayOfWeek, "1"},
        {"0 0 0 1 * 1-7,?", kDayOfWeek, "?"},
        {"0 0 0 1,? * ?,MON", kText, kBothDays},
        // month: numbers or names from the table, whose longest entry wins
        {"0 0 0 1 13 ?", kMonth, kMonths},
        {"0 0 0 1 05 ?", kMonth, kMonths},
        {"0 0 0 1 ? MON", kMonth, kMonths},
        {"0 0 0 1 jan,February,mAr,jUnE ?", kMonth, "1-3,6"},
        {"0 0 0 1 sep-DEC/2,1 ?", kMonth, "1,9,11"},
        // day of week: numbers 0-7 (7 is Sunday) or names, with `L` and `#n` suffixes
        {"0 0 0 ? * 01", kDayOfWeek, kWeekdays},
        {"0 0 0 ? * MON#", kDayOfWeek, kWeekdays},
        {"0 0 0 ? * FR\xC4\xB0", kDayOfWeek, kWeekdays},
        {"0 0 0 ? * sunday,SAT", kDayOfWeek, "0,6"},
        {"0 0 0 ? * FRIL,friL,FridayL,5L", kDayOfWeek, "5L"},
        {"0 0 0 ? * *L", kDayOfWeek, "0L,1L,2L,3L,4L,5L,6L"},
        {"0 0 0 ? * 7L,sat#1,5#6,5#05", kDayOfWeek, "0L,5#5,5#6,6#1"},
        {"0 0 0 ? * 3,MON#2,0-6/3#4", kDayOfWeek, "3,0#4,1#2,3#4,6#4"},
        // year
        {"0 0 0 1 * ? x", kYear, kYears},
        {"0 0 0 1 * ? 02030", kYear, "2030"},
        {"0 0 0 1 * ? */65535,2099/65535", kYear, "1970,2099 open"},
        // the two day fields
        {"0 0 12 * * *", kText, kBothDays},
        // every token is parsed, in text order, before any field is compiled; fields
        // compile in text order and the day fields are compared last
        {"x y * * * ?", kText, kSeconds},
        {"70 * * * * ? x", kText, kYears},
        {"70 0 0 * * ? 2100", kText, "Invalid range. Second: start=70 end=70"},
        {"0 0 24 ? 12-1 MON", kText, "Invalid range. Hour: start=24 end=24"},
        // within a field: `*` items, then ranges, then single values and steps
        {"70,30-10 * * * * ?", kText, "Invalid range. Second: start=30 end=10"},
        {"0 0 0 ? * 3-1,*/0", kText, "Invalid range. DayOfWeek step <= 0"},
        {"0 0 0 ? * 12,1-7", kText, kWeekdays},
        // weekday 7 becomes Sunday before the range is built
        {"0 0 0 ? * 1-7", kText, "Invalid range. DayOfWeek: start=1 end=0"},
        // compile rules of each field: steps, bounds, and `R` items from the drawn number
        {"*/5 0 0 * * ? *", kSecond, "0,5,10,15,20,25,30,35,40,45,50,55"},
        {"0-59/0 0 0 * * ? *", kSecond, "Invalid range. Second step <= 0"},
        {"70,65-66,80-90 0 0 * * ? *", kSecond, "Invalid range. Second: start=65 end=66"},
        {"1-2/0,61-62 0 0 * * ? *", kSecond, "Invalid range. Second step <= 0"},
        {"0 58-59,0-1 0 * * ? *", kMinute, "0-1,58-59"},
        {"0 */0 0 * * ? *", kMinute, "Invalid range. Hour step <= 0"},
        {"0 0 0 */10 * ? *", kDayOfMonth, "1,11,21,31"},
        {"0 0 0 0 * ? *", kDayOfMonth, "Invalid range. DayOfMonth: start=0 end=0"},
        {"0 0 0 20-40W * ? *", kDayOfMonth, "Invalid range. DayOfMonth: start=20 end=40"},
        {"0 0 0 * feb/3 ? *", kMonth, "2,5,8,11"},
        {"0 0 0 * * ? 1969-1975", kYear, "Invalid range. Year: start=1969 end=1975"},
        {"R 0 0 * * ? *", kSecond, "40", 100u},
        {"R 0 0 * * ? *", kSecond, "15", 0xffffffffu},
        {"0 R/15 0 * * ? *", kMinute, "7,22,37,52", 37u},
        {"0 0 R/65535 * * ? *", kHour, "23", 23u},
        {"0 0 0 R * ? *", kDayOfMonth, "31", 30u},
        {"0 0 0 R/10 * ? *", kDayOfMonth, "5,15,25", 3u},
        {"0 0 0 ? * R *", kDayOfWeek, "6", 13u},
        {"0 0 0 * * ? R", kYear, "2099", 129u},
    };
    for (const ParseCase& c : cases) {
        SCOPED_TRACE(c.text);
        CCrontabParser parser([&c] { return c.drawn; });
        EXPECT_EQ(Outcome(parser, c.text, c.field), c.expected);
    }
}

TEST(CrontabParserTest, NothingCarriesOverFromAnEarlierParse) {
    CCrontabParser parser;
    const auto first = parser.Parse("1,2 5 * L-2,LW,3W 3 ? 2030");
    EXPECT_EQ(Outcome(parser, "1,2,3 0 0 ? * MON#2,FRIL x", kText), kYears);
    const auto second = parser.Parse("5 * * ? * 2");
    std::string fields;
    for (Field field : {kSecond, kMinute, kDayOfMonth, kDayOfWeek, kMonth, kYear})
        fields += Describe(*second, field) + " ";
    EXPECT_EQ(fields, "5 0-59 ? 2 1-12 1970-2099 open ");
    EXPECT_EQ(Describe(*parser.Parse("0 0 0 4 * ?"), kDayOfMonth), "4");
    EXPECT_EQ(Describe(*first, kSecond) + " " + Describe(*first, kDayOfMonth), "1-2 L-2,3W,LW");
}

TEST(CrontabParserTest, RandomItemsDrawInTextOrderAtEveryParse) {
    std::uint32_t next = 7;
    CCrontabParser parser([&next] { return next++; });
    const auto tab = parser.Parse("R,R R * * * ?");
    EXPECT_EQ(Describe(*tab, kSecond) + " " + Describe(*tab, kMinute), "7-8 9");
    EXPECT_EQ(Describe(*parser.Parse("R/0 * * * * ?"), kSecond), "10");

    const auto drawn = CCrontabParser().Parse("R R R R * ? R");
    for (Field field : {kSecond, kMinute, kHour, kDayOfMonth, kYear})
        EXPECT_EQ(Describe(*drawn, field).find_first_of(",-"), std::string::npos) << field;
}

TEST(CrontabParserTest, AFailingRandomSourceFailsTheParseWithItsText) {
    CCrontabParser parser([]() -> std::uint32_t { throw std::runtime_error("no entropy"); });
    EXPECT_EQ(Outcome(parser, "0 R * * * ?", kText), "no entropy");
    EXPECT_EQ(Outcome(parser, "0 0 * * * ?", kText), "0 0 * * * ?");
}

}  // namespace
}  // namespace Zent::Scheduler

#pragma once

// Turns crontab texts into CCronTab objects.
//
// A text has six or seven fields separated by white space: second, minute, hour, day of
// month, month, day of week and, optionally, year (1970..2099; `*` when left out). Each
// field is a comma-separated list of items: `*`, `*/n`, `a`, `a/n`, `a-b`, `a-b/n`, and
// the random `R` and `R/n`. Months and weekdays may be written as English names or their
// three-letter forms in any letter case; weekday 7 is Sunday again. Exactly one of the two
// day fields is `?`. The day of month also knows `L`, `L-n`, `LW` and `dW`; the day of
// week `dL` and `d#n`.
//
//     CCrontabParser parser;                       // build once, reuse for many texts
//     auto noonOnThirdFriday = parser.Parse("0 0 12 ? * FRI#3");
//     parser.Parse("0 0 12 * *");                  // throws "Invalid crontab string"
//
// A parser is not for two threads at once: give each thread its own, or serialise.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "CronTab.h"
#include "CrontabValidationException.h"

namespace Zent::Scheduler {

class CCrontabParser {
public:
    // Draws the 32-bit numbers behind `R` items.
    using RandomSource = std::function<std::uint32_t()>;

    // Builds the grammars once; `R` items draw from the operating system's random device.
    CCrontabParser();
    // The same with another source of random numbers (tests make `R` predictable).
    explicit CCrontabParser(RandomSource random);
    ~CCrontabParser();

    CCrontabParser(const CCrontabParser&) = delete;
    CCrontabParser& operator=(const CCrontabParser&) = delete;

    // Parses one text (see the header comment) into a new CCronTab that keeps the text
    // with every run of white space folded to one blank and the ends trimmed. `R` items
    // are drawn anew at every call. Raises CCrontabValidationException with a fixed text:
    // "Invalid crontab string" (not 6 or 7 fields), "Cannot parse the <field> field."
    // (the first field, in text order, that does not parse completely), the field's
    // range or step text, or "Both dayOfMonth & dayOfWeek have values.".
    std::shared_ptr<CCronTab> Parse(std::string text);

    class CCronFieldParser;
    class CCronMonthParser;

private:
    struct Grammars;
    std::unique_ptr<Grammars> grammars_;
};

}  // namespace Zent::Scheduler

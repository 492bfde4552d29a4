#pragma once

// The day-of-week field of a crontab: weekdays 0..6 (0 = Sunday), `?`, and the suffixed
// items `dL` (the last such weekday of a month) and `d#n` (the n-th such weekday).
//
//     CCrontabFieldDayOfWeek dow;
//     RangeSpec friday{5, 5, 1};
//     friday.hasSuffix = true;
//     friday.suffix.last = true;       // 5L
//     dow.AddRange(friday);
//     dow.Compile();                   // Values() is empty, LastWeekdays() is {5}
//
// Which days of a given month these stand for is worked out by the month day set
// (CCrontabFieldDayOfMonth's month constructor).

#include <cstdint>
#include <set>
#include <utility>

#include "CrontabFields.h"

namespace Zent::Scheduler {

class CCrontabFieldDayOfWeek : public detail::CCrontabFieldBase<0, 6> {
public:
    // `?`: the day-of-month field decides. Set by the parser before Compile.
    void SetAnyValue(bool anyValue) { anyValue_ = anyValue; }
    bool IsAnyValue() const { return anyValue_; }

    // Validates the records with the DayOfWeek texts. With `?` every weekday is set and
    // the records are dropped unchecked. A suffixed record sets no plain weekday: `#n`
    // adds (d, n) pairs, `L` adds last-of-month weekdays.
    void Compile();

    const std::set<std::uint16_t>& LastWeekdays() const { return lastWeekdays_; }
    const std::set<std::pair<std::uint16_t, std::uint16_t>>& NthWeekdays() const {
        return nthWeekdays_;
    }

private:
    std::set<std::uint16_t> lastWeekdays_;
    std::set<std::pair<std::uint16_t, std::uint16_t>> nthWeekdays_;  // (weekday, n)
    bool anyValue_ = false;
};

}  // namespace Zent::Scheduler

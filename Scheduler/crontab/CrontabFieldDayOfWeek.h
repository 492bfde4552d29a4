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

    // Raises the DayOfWeek text of the first bad record. With `?` every weekday is set and
    // the records are dropped unchecked. A suffixed record has set no plain weekday: `#n`
    // adds (d, n) pairs (an n beyond 7 names no day of any month and is not kept), `L`
    // adds last-of-month weekdays.
    void Compile();

    // The suffixed weekdays as ordered sets, built on each call for inspection; the
    // searches read the masks.
    bool HasSuffixedWeekdays() const { return nthWeekdays_ != 0 || lastWeekdays_ != 0; }
    bool HasLastWeekdays() const { return lastWeekdays_ != 0; }
    std::set<std::uint16_t> LastWeekdays() const;
    std::set<std::pair<std::uint16_t, std::uint16_t>> NthWeekdays() const;  // (weekday, n)

protected:
    void Apply(const RangeSpec& r) override;

private:
    friend class CCrontabFieldDayOfMonth;  // the month day set reads the masks

    std::uint64_t nthWeekdays_ = 0;  // bit 8 * w + n: the n-th weekday w
    std::uint8_t lastWeekdays_ = 0;  // bit w: the last weekday w
    bool anyValue_ = false;
};

}  // namespace Zent::Scheduler

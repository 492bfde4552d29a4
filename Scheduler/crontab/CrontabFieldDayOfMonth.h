#pragma once

// The day-of-month field of a crontab, and the month day set built from both day fields.
//
// As a field it holds days 1..31, `?`, `L` and `L-n` (offsets from the last day), `LW`
// (the last weekday) and `dW` (the weekday nearest day d). The month day set is the same
// class built for one (year, month): its Values() are exactly the days of that month on
// which the crontab may fire.
//
//     CCrontabFieldDayOfMonth lastDays;          // parsed from "L-3"
//     lastDays.AddLastDayOffset(3);
//     lastDays.Compile();
//     CCrontabFieldDayOfWeek any;                 // "?"
//     any.SetAnyValue(true);
//     any.Compile();
//     CCrontabFieldDayOfMonth june(lastDays, any, 2030, 6);
//     bool the27th = june.Contains(27);           // true: 30 - 3
//
// Exactly one of the two day fields is `?`: when the day of month is `?` the day of week
// decides (plain weekdays, `dL`, `d#n`); otherwise the day of month decides alone.

#include <array>
#include <cstdint>
#include <set>

#include "CrontabFieldDayOfWeek.h"
#include "CrontabFields.h"

namespace Zent::Scheduler {

class CCrontabFieldDayOfMonth : public detail::CCrontabFieldBase<1, 31> {
public:
    // An empty field, to be filled by the parser and compiled.
    CCrontabFieldDayOfMonth() = default;

    // The month day set of (year, month) for the two compiled day fields. Years
    // 1970..2099 and months 1..12 are meant; the date library's own range error is raised
    // for a date it cannot represent.
    CCrontabFieldDayOfMonth(const CCrontabFieldDayOfMonth& dayOfMonth,
                            const CCrontabFieldDayOfWeek& dayOfWeek, int year, int month);

    CCrontabFieldDayOfMonth(const CCrontabFieldDayOfMonth&) = default;
    CCrontabFieldDayOfMonth& operator=(const CCrontabFieldDayOfMonth&) = default;

    // The days (bit d - 1 for day d) on which the crontab fires in a month of `length`
    // days (28..31) whose first day falls on `firstWeekday` (0 = Sunday). Every rule of
    // both fields depends on these two numbers alone.
    static std::uint32_t MonthDays(const CCrontabFieldDayOfMonth& dayOfMonth,
                                   const CCrontabFieldDayOfWeek& dayOfWeek, unsigned length,
                                   unsigned firstWeekday);

    // The parts of MonthDays for a day-of-month field that decides: the plain days and
    // last-day offsets, which depend on the length alone, and the nearest weekdays (`dW`,
    // `LW`), which depend on the first weekday too.
    static std::uint32_t FixedDays(const CCrontabFieldDayOfMonth& dayOfMonth, unsigned length);
    // The nearest weekdays for each first weekday (0 = Sunday) of the month.
    static std::array<std::uint32_t, 7> NearestDays(const CCrontabFieldDayOfMonth& dayOfMonth,
                                                    unsigned length);

    // The parts of MonthDays for a day-of-week field that decides that its suffixed items
    // give: the n-th weekdays (`d#n`) of a 31-day month (a shorter month cuts them) and the
    // last weekdays (`dL`) of a month of `length` days.
    static std::uint32_t NthWeekdayDays(const CCrontabFieldDayOfWeek& dayOfWeek,
                                        unsigned firstWeekday);
    static std::uint32_t LastWeekdayDays(const CCrontabFieldDayOfWeek& dayOfWeek, unsigned length,
                                         unsigned firstWeekday);

    // The days (bit d - 1 for day d) of a month of `length` days starting on `firstWeekday`
    // that fall on one of `weekdays` (bit w for weekday w, 0 = Sunday).
    static std::uint32_t WeekdayDays(std::uint64_t weekdays, unsigned length,
                                     unsigned firstWeekday) {
        // Rotate the week so that bit j stands for day j + 1, then repeat it every 7 days.
        const std::uint64_t week =
            ((weekdays >> firstWeekday) | (weekdays << (7 - firstWeekday))) & 0x7F;
        const std::uint64_t days = week | week << 7 | week << 14 | week << 21 | week << 28;
        return static_cast<std::uint32_t>(days & ((std::uint64_t{1} << length) - 1));
    }

    // Set by the parser before Compile. An offset beyond 63 names no day of any month and
    // is not kept.
    void SetAnyValue(bool anyValue) { anyValue_ = anyValue; }
    void AddLastDayOffset(std::uint16_t offset) {
        if (offset < 64) lastDayOffsets_ |= std::uint64_t{1} << offset;
    }
    void SetLastWeekdayOfMonth(bool lastWeekday) { lastWeekdayOfMonth_ = lastWeekday; }

    // Raises the DayOfMonth text of the first bad record. With `?` every day is set, the
    // nearest-weekday days are emptied and the records are dropped unchecked. A record
    // with the `W` suffix has added its days to the nearest-weekday days instead of the
    // values.
    void Compile();

    bool IsAnyValue() const { return anyValue_; }
    bool IsLastWeekdayOfMonth() const { return lastWeekdayOfMonth_; }
    bool HasNearestWeekdays() const { return nearestWeekdayDays_ != 0; }
    // The last-day offsets and the nearest-weekday days as ordered sets, built on each
    // call for inspection; the searches read the masks.
    std::set<std::uint16_t> LastDayOffsets() const;
    std::set<std::uint16_t> NearestWeekdayDays() const;

protected:
    void Apply(const RangeSpec& r) override;

private:
    std::uint64_t lastDayOffsets_ = 0;      // bit k: offset k
    std::uint32_t nearestWeekdayDays_ = 0;  // bit d - 1: day d
    bool anyValue_ = false;
    bool lastWeekdayOfMonth_ = false;
};

}  // namespace Zent::Scheduler

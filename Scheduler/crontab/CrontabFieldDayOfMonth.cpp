#include "CrontabFieldDayOfMonth.h"

#include <boost/date_time/gregorian/gregorian_types.hpp>

namespace Zent::Scheduler {

namespace {

constexpr std::uint32_t DayBit(unsigned day) {
    return std::uint32_t{1} << (day - 1);
}

unsigned WeekdayOf(unsigned day, unsigned firstWeekday) {
    return (firstWeekday + day - 1) % 7;
}

// The weekday nearest to `day` without leaving the month: a Saturday moves to the Friday
// before (to the Monday after when it is the 1st), a Sunday to the Monday after (to the
// Friday before when it is the last day).
unsigned NearestWeekday(unsigned day, unsigned length, unsigned firstWeekday) {
    switch (WeekdayOf(day, firstWeekday)) {
        case 6:
            return day == 1 ? day + 2 : day - 1;
        case 0:
            return day == length ? day - 2 : day + 1;
        default:
            return day;
    }
}

}  // namespace

CCrontabFieldDayOfMonth::CCrontabFieldDayOfMonth(const CCrontabFieldDayOfMonth& dayOfMonth,
                                                 const CCrontabFieldDayOfWeek& dayOfWeek, int year,
                                                 int month) {
    const boost::gregorian::date first(year, month, 1);
    const unsigned length = first.end_of_month().day();
    const std::uint32_t days = MonthDays(dayOfMonth, dayOfWeek, length, first.day_of_week());
    values_ = Bits(days);
}

std::uint32_t CCrontabFieldDayOfMonth::MonthDays(const CCrontabFieldDayOfMonth& dayOfMonth,
                                                 const CCrontabFieldDayOfWeek& dayOfWeek,
                                                 unsigned length, unsigned firstWeekday) {
    std::uint32_t days = 0;
    if (!dayOfMonth.anyValue_) {
        days = static_cast<std::uint32_t>(dayOfMonth.values_.to_ulong()) &
               (DayBit(length) | (DayBit(length) - 1));
        auto addNearest = [&](unsigned day) {
            if (day >= 1 && day <= length)
                days |= DayBit(NearestWeekday(day, length, firstWeekday));
        };
        for (std::uint16_t day : dayOfMonth.nearestWeekdayDays_)
            addNearest(day);
        if (dayOfMonth.lastWeekdayOfMonth_) addNearest(length);
        for (std::uint16_t offset : dayOfMonth.lastDayOffsets_) {
            if (offset < length) days |= DayBit(length - offset);
        }
        return days;
    }

    days = WeekdayDays(dayOfWeek.Values().to_ulong(), length, firstWeekday);
    for (std::uint16_t weekday : dayOfWeek.LastWeekdays()) {
        const unsigned lastWeekday = WeekdayOf(length, firstWeekday);
        days |= DayBit(length - (lastWeekday + 7 - weekday) % 7);
    }
    for (const auto& [weekday, n] : dayOfWeek.NthWeekdays()) {
        if (n < 1) continue;
        const unsigned firstSuch = 1 + (weekday + 7 - firstWeekday) % 7;
        const unsigned nth = firstSuch + 7u * (n - 1u);
        if (nth <= length) days |= DayBit(nth);
    }
    return days;
}

void CCrontabFieldDayOfMonth::Compile() {
    if (anyValue_) {
        values_.set();
        nearestWeekdayDays_.clear();
        DiscardRanges();
        return;
    }
    CompileRanges("Invalid range. DayOfMonth: start=", "Invalid range. DayOfMonth step <= 0",
                  [this](std::uint32_t v, const RangeSpec& r) {
                      if (r.hasSuffix && r.suffix.nearestWeekday) {
                          nearestWeekdayDays_.insert(static_cast<std::uint16_t>(v));
                      } else {
                          values_[v - kFirst] = true;
                      }
                  });
}

}  // namespace Zent::Scheduler

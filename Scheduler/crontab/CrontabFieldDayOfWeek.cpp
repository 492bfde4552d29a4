#include "CrontabFieldDayOfWeek.h"

#include <bit>

namespace Zent::Scheduler {

void CCrontabFieldDayOfWeek::Apply(const RangeSpec& r) {
    if (!r.hasSuffix) {
        CCrontabFieldBase::Apply(r);
        return;
    }
    for (std::uint32_t day = r.start; day <= r.end; day += r.step) {
        if (r.suffix.nth) {
            if (r.suffix.nthValue < 8)
                nthWeekdays_ |= std::uint64_t{1} << (8 * day + r.suffix.nthValue);
        } else if (r.suffix.last) {
            lastWeekdays_ = static_cast<std::uint8_t>(lastWeekdays_ | 1u << day);
        }
    }
}

void CCrontabFieldDayOfWeek::Compile() {
    if (anyValue_) {
        values_.set();
        nthWeekdays_ = 0;
        lastWeekdays_ = 0;
        DropRecords();
        return;
    }
    // Fixed text (matched by other modules and operators): keep verbatim, typos too.
    CheckRecords("Invalid range. DayOfWeek: start=", "Invalid range. DayOfWeek step <= 0");
}

std::set<std::uint16_t> CCrontabFieldDayOfWeek::LastWeekdays() const {
    std::set<std::uint16_t> weekdays;
    for (unsigned rest = lastWeekdays_; rest != 0; rest &= rest - 1)
        weekdays.insert(static_cast<std::uint16_t>(std::countr_zero(rest)));
    return weekdays;
}

std::set<std::pair<std::uint16_t, std::uint16_t>> CCrontabFieldDayOfWeek::NthWeekdays() const {
    std::set<std::pair<std::uint16_t, std::uint16_t>> pairs;
    for (std::uint64_t rest = nthWeekdays_; rest != 0; rest &= rest - 1) {
        const auto bit = static_cast<std::uint16_t>(std::countr_zero(rest));
        pairs.emplace(static_cast<std::uint16_t>(bit / 8), static_cast<std::uint16_t>(bit % 8));
    }
    return pairs;
}

}  // namespace Zent::Scheduler

#include "CrontabFieldDayOfWeek.h"

namespace Zent::Scheduler {

void CCrontabFieldDayOfWeek::Compile() {
    if (anyValue_) {
        values_.set();
        DiscardRanges();
        return;
    }
    CompileRanges("Invalid range. DayOfWeek: start=", "Invalid range. DayOfWeek step <= 0",
                  [this](std::uint32_t v, const RangeSpec& r) {
                      const auto day = static_cast<std::uint16_t>(v);
                      if (!r.hasSuffix) {
                          values_[day] = true;
                      } else if (r.suffix.nth) {
                          const std::uint16_t n =
                              r.suffix.nthValues.empty() ? 0 : r.suffix.nthValues.back();
                          nthWeekdays_.emplace(day, n);
                      } else if (r.suffix.last) {
                          lastWeekdays_.insert(day);
                      }
                  });
}

}  // namespace Zent::Scheduler

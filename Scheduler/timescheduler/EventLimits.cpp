#include "Scheduler/timescheduler/EventLimits.h"

#include <boost/date_time/posix_time/posix_time.hpp>

#include "Scheduler/timescheduler/TimeConversions.h"

namespace Zent::Scheduler {

using boost::posix_time::ptime;

const ptime& Horizon() {
    static const ptime horizon = boost::posix_time::time_from_string("2099-01-01 00:00");
    return horizon;
}

const ptime& EarliestCursor() {
    static const ptime earliest(boost::gregorian::date(1969, 12, 31),
                                boost::posix_time::seconds(86399));
    return earliest;
}

ptime EndLimit(const Common::DataDefinition::Scheduler::TimeEvent& timeEvent) {
    if (timeEvent.has_range() && timeEvent.range().has_rangedefinitionendtime()) {
        return ToTimePoint(timeEvent.range().rangedefinitionendtime());
    }
    return Horizon();
}

bool LimitReached(const Common::DataDefinition::Scheduler::TimeEvent& timeEvent,
                  std::uint64_t ticks) {
    return timeEvent.has_range() && timeEvent.range().has_rangedefinitionoccurences() &&
           ticks >= timeEvent.range().rangedefinitionoccurences();
}

}  // namespace Zent::Scheduler

#include "Scheduler/timescheduler/EventLimits.h"

#include <boost/date_time/posix_time/posix_time.hpp>

#include "Scheduler/timescheduler/TimeConversions.h"

namespace Zent::Scheduler {

namespace {

using boost::posix_time::ptime;
using Common::DataDefinition::Scheduler::TimeEvent;

}  // namespace

const ptime& Horizon() {
    static const ptime horizon = boost::posix_time::time_from_string("2099-01-01 00:00");
    return horizon;
}

const ptime& EarliestCursor() {
    static const ptime earliest(boost::gregorian::date(1969, 12, 31),
                                boost::posix_time::seconds(86399));
    return earliest;
}

ptime CursorForMatchAtOrAfter(ptime t) {
    return t - boost::posix_time::seconds(1);
}

TimeEvent WithStoredStart(TimeEvent event) {
    if (event.has_starttime()) {
        *event.mutable_starttime() =
            ToUtcTime(CursorForMatchAtOrAfter(ToTimePoint(event.starttime())));
    }
    return event;
}

std::optional<ptime> EndTime(const TimeEvent& timeEvent) {
    if (timeEvent.has_range() && timeEvent.range().has_rangedefinitionendtime()) {
        return ToTimePoint(timeEvent.range().rangedefinitionendtime());
    }
    return std::nullopt;
}

ptime EndLimit(const TimeEvent& timeEvent) {
    return EndTime(timeEvent).value_or(Horizon());
}

std::optional<std::uint32_t> OccurrenceLimit(const TimeEvent& timeEvent) {
    if (timeEvent.has_range() && timeEvent.range().has_rangedefinitionoccurences()) {
        return timeEvent.range().rangedefinitionoccurences();
    }
    return std::nullopt;
}

bool LimitReached(const TimeEvent& timeEvent, std::uint64_t ticks) {
    const std::optional<std::uint32_t> limit = OccurrenceLimit(timeEvent);
    return limit && ticks >= *limit;
}

}  // namespace Zent::Scheduler

#include "CronRangeFinder.h"

#include <ctime>

#include "CronTabCache.h"
#include "CrontabScheduler.h"

namespace Zent::Scheduler {

namespace {
using boost::posix_time::ptime;
using boost::posix_time::time_duration;

// No search starts before this: the first possible match, 1970-01-01 00:00:00, is the
// first second after it.
const ptime& EarliestCursor() {
    static const ptime earliest(boost::gregorian::date(1969, 12, 31),
                                boost::posix_time::seconds(86399));
    return earliest;
}

// The cache of every finder built without one: range queries repeat their texts.
const std::shared_ptr<CCronTabCache>& SharedCache() {
    static const auto cache = std::make_shared<CCronTabCache>();
    return cache;
}
}  // namespace

CCronRangeFinder::CCronRangeFinder() : CCronRangeFinder(&CCronRangeFinder::ProcessUtcOffset) {}

CCronRangeFinder::CCronRangeFinder(UtcOffsetSource offset)
    : CCronRangeFinder(std::move(offset), SharedCache()) {}

CCronRangeFinder::CCronRangeFinder(UtcOffsetSource offset, std::shared_ptr<CCronTabCache> cache)
    : offset_(std::move(offset)), cache_(std::move(cache)) {}

CCronRangeFinder::~CCronRangeFinder() = default;

void CCronRangeFinder::AddDefinition(RangeDefinition definition) {
    definitions_.push_back(std::move(definition));
}

time_duration CCronRangeFinder::ProcessUtcOffset(ptime utc) {
    static const ptime epoch(boost::gregorian::date(1970, 1, 1));
    const std::time_t seconds = (utc - epoch).total_seconds();
    std::tm local{};
    if (localtime_r(&seconds, &local) == nullptr) return {};
    return boost::posix_time::seconds(local.tm_gmtoff);
}

std::optional<std::pair<ptime, ptime>> CCronRangeFinder::FindNextRange(ptime now) const {
    // One offset for the whole query, so that local now and both conversions back agree.
    const time_duration offset = offset_(now);
    const ptime nowLocal = now + offset;

    // The earliest start wins; among equal starts the first definition keeps it.
    std::optional<std::pair<ptime, ptime>> earliest;
    for (const RangeDefinition& definition : definitions_) {
        const CCrontabScheduler scheduler(cache_->Get(definition.text));
        const ptime comparison = definition.utc ? now : nowLocal;
        // Every occurrence after comparison - duration opens a range that ends after the
        // comparison point, so the first of them is the one sought.
        const ptime cursor = std::max(comparison - definition.duration, EarliestCursor());
        const ptime start = scheduler.NextOccurrence(cursor, LatestSupportedInstant());
        if (start.is_not_a_date_time()) continue;
        const time_duration shift = definition.utc ? time_duration() : offset;
        const ptime utcStart = start - shift;
        if (!earliest || utcStart < earliest->first) {
            earliest.emplace(utcStart, start + definition.duration - shift);
        }
    }
    return earliest;
}

}  // namespace Zent::Scheduler

// Validation and the queries over registered events.

#include <algorithm>
#include <limits>

#include <boost/date_time/posix_time/posix_time.hpp>

#include "Scheduler/timescheduler/EventLimits.h"
#include "Scheduler/timescheduler/TimeScheduler.h"

namespace Zent::Scheduler {

namespace Texts = TimeSchedulerTexts;

namespace {

using boost::posix_time::hours;
using boost::posix_time::ptime;
using boost::posix_time::seconds;

// Whole seconds from now until `expiry`, within the int32 range.
std::int32_t SecondsUntil(const ptime& expiry) {
    const std::int64_t remaining = (expiry - CurrentUtcSecond()).total_seconds();
    return static_cast<std::int32_t>(
        std::clamp<std::int64_t>(remaining, std::numeric_limits<std::int32_t>::min(),
                                 std::numeric_limits<std::int32_t>::max()));
}

}  // namespace

void CTimeScheduler::ValidateTimeEvent(const CCrontabScheduler& crontabScheduler,
                                       const TimeEvent& timeEvent, bool slack) const {
    Validate(crontabScheduler, timeEvent, slack ? ZoneSlack::TwelveHours : ZoneSlack::None,
             StartRecord::Requested);
}

void CTimeScheduler::Validate(const CCrontabScheduler& crontabScheduler, const TimeEvent& timeEvent,
                              ZoneSlack slack, StartRecord startRecord) const {
    const Time nowEvent = NowInEventBase(timeEvent);
    Time start = timeEvent.has_starttime() ? ToTimePoint(timeEvent.starttime()) : nowEvent;
    // A match exactly at the requested start counts; a stored start is that cursor already.
    if (!(timeEvent.has_starttime() && startRecord == StartRecord::Stored)) {
        start = CursorForMatchAtOrAfter(start);
    }
    const Time end = EndLimit(timeEvent);
    const bool withSlack = slack == ZoneSlack::TwelveHours;
    Time nowCheck = !timeEvent.utclocal() && !withSlack ? nowEvent : CurrentUtcSecond();
    if (withSlack) {
        start -= hours(12);
        nowCheck -= hours(12);
    }
    start = std::max(start, EarliestCursor());
    nowCheck = std::max(nowCheck, EarliestCursor());
    if (crontabScheduler.NextOccurrence(start, end).is_not_a_date_time()) {
        throw CCrontabNoEventException(Texts::kNeverOccurs);
    }
    if (crontabScheduler.NextOccurrence(nowCheck, end).is_not_a_date_time()) {
        throw CCrontabTimeInPastException();
    }
}

std::int32_t CTimeScheduler::GetRemainingTimeBySpec(const TimeEvent& timeEvent,
                                                    Time& nextTick) const {
    nextTick = Time();
    // Checked first: the shift below would complete a start that lacks a field.
    if (!timeEvent.IsInitialized()) throw std::runtime_error(Texts::kCannotSerializeRequest);
    // Compared with the record that a registration keeps.
    TimeEvent stored;
    try {
        stored = WithStoredStart(timeEvent);
    } catch (const std::out_of_range&) {
        return 0;  // no registration holds an invalid start
    }
    std::string wanted;
    if (!stored.SerializeToString(&wanted)) {
        throw std::runtime_error(Texts::kCannotSerializeRequest);
    }
    const std::size_t hash = std::hash<std::string>{}(wanted);

    // Only the events whose specification hashes alike are compared, byte for byte.
    Lock lock(eventMutex_);
    const TimeEventDesc* match = nullptr;
    std::string candidate;
    for (auto event = eventsBySpecification_.lower_bound({hash, 0});
         event != eventsBySpecification_.end() && event->specificationHash == hash; ++event) {
        if (!event->timeEvent.SerializeToString(&candidate)) {
            throw std::runtime_error(Texts::kCannotSerializeRegistered);
        }
        if (candidate != wanted) continue;
        if (match) throw std::runtime_error(Texts::kTimeEventNotUnique);
        match = &*event;
    }
    if (!match || match->timer.expires_at().is_special()) return 0;
    nextTick = match->timer.expires_at();
    return SecondsUntil(nextTick);
}

std::int32_t CTimeScheduler::GetRemainingTimeByUserData(const MessagePtr& userData,
                                                        Time& nextTick) const {
    nextTick = Time();
    if (!userData) throw CCrontabNoEventException(Texts::kUserDataIsNull);
    const std::size_t hash = userData->GetHash();
    Lock lock(eventMutex_);
    const auto found = FindOldest(userData, hash);
    if (found == eventDescriptions_.end()) throw CCrontabNoEventException(Texts::kUserDataNotFound);
    const DeadlineTimer& timer = found->second->timer;
    if (timer.expires_at().is_special()) return 0;
    nextTick = timer.expires_at();
    return SecondsUntil(nextTick);
}

std::vector<CTimeScheduler::Time> CTimeScheduler::GetNextOccurrencesByUserData(
    const MessagePtr& userData, Time from, std::uint64_t count) const {
    if (!userData) return {};
    const std::size_t hash = userData->GetHash();
    CCrontabScheduler crontab(nullptr);
    {
        // Only the crontab is taken under the lock; the search runs outside it.
        Lock lock(eventMutex_);
        const auto found = FindOldest(userData, hash);
        if (found == eventDescriptions_.end() || found->second->IsSleepEvent()) return {};
        crontab = found->second->crontab;
    }
    std::vector<Time> occurrences;
    count = std::min(count, kMaxOccurrencesPerQuery);
    for (Time t = from; occurrences.size() < count;) {
        t = crontab.NextOccurrence(t, LatestSupportedInstant());
        if (t.is_not_a_date_time()) break;
        occurrences.push_back(t);
    }
    return occurrences;
}

std::optional<CTimeScheduler::Time> CTimeScheduler::GetLastTick(const TimeEvent& timeEvent) const {
    const auto crontab =
        std::make_shared<CCrontabScheduler>(crontabs_.Get(timeEvent.timespecification()));
    const Time now = NowInEventBase(timeEvent);
    const Time start = timeEvent.has_starttime() ? ToTimePoint(timeEvent.starttime()) : now;
    const bool hasEnd = EndTime(timeEvent).has_value();
    const Time end = EndLimit(timeEvent);
    const std::optional<std::uint32_t> limit = OccurrenceLimit(timeEvent);
    if (limit && *limit == 0) {
        throw std::runtime_error(Texts::kNeverStartsPrefix + timeEvent.DebugString());
    }
    const Time firstCursor = std::max(CursorForMatchAtOrAfter(start), EarliestCursor());
    if (crontab->NextOccurrence(firstCursor, end).is_not_a_date_time()) {
        throw std::runtime_error(Texts::kNeverTicksPrefix + timeEvent.DebugString() +
                                 Texts::kNeverTicksSuffix);
    }

    std::optional<Time> last;
    const auto consider = [&last](Time t) {
        if (!last || t < *last) last = t;
    };
    // The last match up to the end. A crontab whose years never run out has one only when
    // the event names an end.
    const std::optional<Time> lastEver = crontab->LastOccurrence();
    if (lastEver || hasEnd) {
        const Time lastBeforeEnd =
            lastEver && *lastEver <= end ? *lastEver : crontab->LastOccurrenceAtOrBefore(end);
        if (!lastBeforeEnd.is_not_a_date_time() && !(lastBeforeEnd < start)) {
            consider(lastBeforeEnd);
        }
    }
    if (limit) {
        // Counting starts at the first match at or after both the start and now.
        const Time nowSecond(now.date(), seconds(now.time_of_day().total_seconds()));
        const Time afterNow = nowSecond == now ? CursorForMatchAtOrAfter(now) : nowSecond;
        const Time after = std::max(firstCursor, afterNow);
        const Time counted = crontab->NthOccurrence(after, end, *limit).last;
        if (counted.is_not_a_date_time()) {
            throw std::runtime_error(Texts::kNeverTicksPrefix + timeEvent.DebugString() +
                                     Texts::kNeverTicksSuffix);
        }
        consider(counted);
    }
    if (!last) return std::nullopt;
    Time result = *last;
    if (timeEvent.has_delay() && timeEvent.delay() > 0) result += seconds(timeEvent.delay());
    if (!timeEvent.utclocal()) result = LocalToUtc(result);
    return result;
}

}  // namespace Zent::Scheduler

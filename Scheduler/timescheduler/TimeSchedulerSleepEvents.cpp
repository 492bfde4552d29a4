// Sleep events: one-shot events due a number of seconds after their registration, by the
// wall clock or the steady clock, whichever comes first. Registration, arming, the shift
// after a clock change, and delivery.
//
// The log lines in this file:
// Fixed text (matched by other modules and operators): keep verbatim, typos too.

#include <algorithm>

#include <boost/date_time/posix_time/posix_time.hpp>

#include "Scheduler/timescheduler/TimeScheduler.h"

namespace Zent::Scheduler {

namespace Texts = TimeSchedulerTexts;

void CTimeScheduler::RegisterSleepEvent(std::uint32_t seconds, MessagePtr userData,
                                        UserContextPtr userContext) {
    if (!userData) throw CCrontabNoEventException(Texts::kUserDataIsNull);
    auto desc = std::make_shared<TimeEventDesc>(*ioContext_);
    desc->userData = std::move(userData);
    desc->userContext = std::move(userContext);
    desc->sleepSeconds = seconds;
    {
        Lock lock(eventMutex_);
        NoteFirstPlanning(clock_->UniversalTime(), clock_->SteadyTime());
        const std::uint64_t id = Insert(desc);
        RegisterSleepEventWithTimer(seconds, *desc, id);
    }
    logger_.Detail() << "New sleep event was registered.";
}

void CTimeScheduler::RegisterSleepEventWithTimer(std::uint32_t seconds, TimeEventDesc& desc,
                                                 std::uint64_t id) {
    const Time wall = clock_->UniversalTime();
    const std::chrono::nanoseconds steady = clock_->SteadyTime();
    const Time second(wall.date(), boost::posix_time::seconds(wall.time_of_day().total_seconds()));
    desc.nextOccurrence = second + boost::posix_time::seconds(seconds);
    desc.sleepDueSteady =
        steady + std::chrono::microseconds((desc.nextOccurrence - wall).total_microseconds());
    logger_.Detail() << "RegisterSleepEventWithTimer: next occurence of id: " << id
                     << " at: " << boost::posix_time::to_simple_string(desc.nextOccurrence);
    NoteArming();
    desc.timer.expires_at(SleepExpiry(desc, wall, steady));
    desc.timer.async_wait(
        [this, id](const boost::system::error_code& error) { SleepEventHandler(error, id); });
}

CTimeScheduler::Time CTimeScheduler::SleepExpiry(const TimeEventDesc& desc, Time wall,
                                                 std::chrono::nanoseconds steady) {
    const auto left =
        std::chrono::duration_cast<std::chrono::microseconds>(desc.sleepDueSteady - steady);
    const Time bySteady = wall + boost::posix_time::microseconds(left.count());
    // A wall clock outside the supported years says nothing about the due time.
    if (!WallClockInRange(wall)) return bySteady;
    return std::min(desc.nextOccurrence, bySteady);
}

void CTimeScheduler::ArmSleepTimer(std::uint64_t id, TimeEventDesc& desc, Time expiry) {
    desc.timer.expires_at(expiry);
    NoteArming();
    desc.timer.async_wait(
        [this, id](const boost::system::error_code& error) { SleepEventHandler(error, id); });
}

bool CTimeScheduler::RearmEarlySleep(std::uint64_t id) {
    // The two clocks are read a few microseconds apart: a steady reading this close to
    // the due time counts as there.
    constexpr std::chrono::milliseconds kSlack{1};
    const auto found = eventDescriptions_.find(id);
    if (found == eventDescriptions_.end() || !found->second) return false;
    TimeEventDesc& desc = *found->second;
    const Time wall = clock_->UniversalTime();
    const std::chrono::nanoseconds steady = clock_->SteadyTime();
    const bool wallDue = WallClockInRange(wall) && !(wall < desc.nextOccurrence);
    if (wallDue || steady + kSlack >= desc.sleepDueSteady) return false;
    ArmSleepTimer(id, desc, SleepExpiry(desc, wall, steady));
    return true;
}

void CTimeScheduler::SleepEventHandler(const boost::system::error_code& error, std::uint64_t id) {
    if (!IsTicking()) return;
    if (boost::this_thread::interruption_requested()) return;
    if (error) return;
    Lock lock(eventMutex_);
    if (RearmEarlySleep(id)) return;
    logger_.Detail() << "Invoking SleepEventHandler id: " << id;
    ProcessSleepEvent(id);
    logger_.Detail() << "Finished invoking SleepEventHandler id: " << id;
}

void CTimeScheduler::ProcessSleepEvent(std::uint64_t id) {
    const auto found = eventDescriptions_.find(id);
    if (found == eventDescriptions_.end()) {
        logger_.Error() << "Failed to sleep timer handler id: " << id
                        << " because it does not exist in Event description map";
        return;
    }
    if (!found->second) {
        logger_.Error() << "Failed to invoke sleep timer handler id: " << id
                        << " because the event descriptor is null";
        return;
    }
    const DescPtr desc = found->second;
    Erase(found);
    InvokeTickHandlers(id, desc->userData, desc->userContext);
}

void CTimeScheduler::ShiftSleepEvent(std::uint64_t id, TimeEventDesc& desc, Time wall,
                                     std::chrono::nanoseconds steady) {
    const Time expiry = SleepExpiry(desc, wall, steady);
    const Time current = desc.timer.expires_at();
    // The two clocks are read apart: a difference below a second is no clock change.
    if (!current.is_special() && (expiry - current).abs() < boost::posix_time::seconds(1)) return;
    // When its completion is under way, the handler compares the clocks itself.
    if (desc.timer.expires_at(expiry) == 0) return;
    NoteArming();
    logger_.Info() << "Scheduling new sleeping time for event id:" << id
                   << ", new time:" << LogTime{expiry};
    desc.timer.async_wait(
        [this, id](const boost::system::error_code& error) { SleepEventHandler(error, id); });
}

}  // namespace Zent::Scheduler

#pragma once

// The time scheduler's refusals of a time event (CCrontabNoEventException has a header of
// its own), beside the crontab engine's CCrontabValidationException.
//
//     try { scheduler->AddTab(crontab, event, userData, context); }
//     catch (const CCrontabNoEventException& e) { /* never occurs, or no user data */ }
//     catch (const CCrontabTimeInPastException& e) { /* "Events are in the past" */ }
//     catch (const CCrontabEventLimitException& e) { /* e.GetLimit() events registered */ }

#include <cstddef>
#include <stdexcept>
#include <string>

#include "Scheduler/timescheduler/CrontabNoEventException.h"
#include "Scheduler/timescheduler/TimeSchedulerTexts.h"

namespace Zent::Scheduler {

// Every occurrence of the event lies in the past.
class CCrontabTimeInPastException : public std::runtime_error {
public:
    CCrontabTimeInPastException() : std::runtime_error(TimeSchedulerTexts::kEventsInThePast) {}
};

// The registry already holds its maximum number of events, so a new one is refused:
// "Too many registered events: the limit is <limit>".
class CCrontabEventLimitException : public std::runtime_error {
public:
    explicit CCrontabEventLimitException(std::size_t limit)
        : std::runtime_error(TimeSchedulerTexts::kEventLimitPrefix + std::to_string(limit)),
          limit_(limit) {}
    std::size_t GetLimit() const { return limit_; }

private:
    std::size_t limit_;
};

}  // namespace Zent::Scheduler

#pragma once

// The time scheduler's refusals of a time event, beside the crontab engine's
// CCrontabValidationException.
//
//     try { scheduler->AddTab(crontab, event, userData, context); }
//     catch (const CCrontabNoEventException& e) { /* never occurs, or no user data */ }
//     catch (const CCrontabTimeInPastException& e) { /* "Events are in the past" */ }
//     catch (const CCrontabEventLimitException& e) { /* e.GetLimit() events registered */ }

#include <cstddef>
#include <stdexcept>
#include <string>

namespace Zent::Scheduler {

// The event never occurs, has no next occurrence, or names no (or unknown) user data.
class CCrontabNoEventException : public std::runtime_error {
public:
    explicit CCrontabNoEventException(const std::string& text) : std::runtime_error(text) {}
};

// Every occurrence of the event lies in the past.
class CCrontabTimeInPastException : public std::runtime_error {
public:
    CCrontabTimeInPastException() : std::runtime_error("Events are in the past") {}
};

// The registry already holds its maximum number of events, so a new one is refused:
// "Too many registered events: the limit is <limit>".
class CCrontabEventLimitException : public std::runtime_error {
public:
    explicit CCrontabEventLimitException(std::size_t limit)
        : std::runtime_error("Too many registered events: the limit is " + std::to_string(limit)),
          limit_(limit) {}
    std::size_t GetLimit() const { return limit_; }

private:
    std::size_t limit_;
};

}  // namespace Zent::Scheduler

#pragma once

// The time scheduler's refusal of an event that never occurs, has no next occurrence, or
// names no (or unknown) user data.
//
//     try { scheduler->GetRemainingTimeByUserData(userData, nextTick); }
//     catch (const CCrontabNoEventException& e) { /* "User data not found." */ }

#include <stdexcept>
#include <string>

namespace Zent::Scheduler {

class CCrontabNoEventException : public std::runtime_error {
public:
    explicit CCrontabNoEventException(const std::string& text) : std::runtime_error(text) {}
};

}  // namespace Zent::Scheduler

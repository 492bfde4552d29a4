#pragma once

#include <stdexcept>
#include <string>

namespace Zent::Scheduler {

// The one failure of the crontab engine: a text that does not parse, an item out of
// bounds, or a crontab whose day fields contradict each other. what() is the fixed
// English text that callers pass on to users unchanged.
class CCrontabValidationException : public std::runtime_error {
public:
    explicit CCrontabValidationException(const std::string& text) : std::runtime_error(text) {}
};

}  // namespace Zent::Scheduler

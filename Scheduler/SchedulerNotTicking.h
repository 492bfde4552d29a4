#pragma once

// The refusal of a request while the scheduler shuts down.
//
//     module.CheckTicking("MsgRegisterTimeEvent", userData->GetTypeName());
//     // throws "Scheduler is not ticking. Shutdown in progress. [Method=...;Message=...]"

#include <stdexcept>
#include <string>

namespace Zent::Scheduler {

class SchedulerNotTicking : public std::runtime_error {
public:
    explicit SchedulerNotTicking(const std::string& text) : std::runtime_error(text) {}
};

}  // namespace Zent::Scheduler

#pragma once

// Sends each tick onto the bus: the registration's own user-data message, on behalf of
// the requester that registered it.
//
//     scheduler->AddTickHandler(std::make_shared<CSchedulerModule::CTickHandler>(module));

#include "Scheduler/SchedulerModule.h"
#include "Scheduler/timescheduler/ITickHandler.h"

namespace Zent::Scheduler {

class CSchedulerModule::CTickHandler : public ITickHandler {
public:
    explicit CTickHandler(CSchedulerModule& module) : module_(module) {}

    // Adopts `userContext` on the calling thread and sends `userData`. A failed send is
    // logged (level 4) and counts as delivered, even when the user data cannot name
    // itself; a thread interruption leaves, and so may a failure to write that line (out
    // of memory), which the scheduler then logs.
    void OnTick(std::shared_ptr<Common::Kernel::IMessage> userData,
                std::shared_ptr<Common::Security::CUserContext> userContext) override;

private:
    CSchedulerModule& module_;
};

}  // namespace Zent::Scheduler

#pragma once

// Receives the ticks of the time scheduler.
//
//     class CPrintTicks : public ITickHandler {
//         void OnTick(std::shared_ptr<IMessage> userData, std::shared_ptr<CUserContext>) override {
//             std::cout << userData->GetTypeName() << '\n';
//         }
//     };
//     scheduler->AddTickHandler(std::make_shared<CPrintTicks>());

#include <memory>

#include "common/kernel/IMessage.h"
#include "common/security/UserContext.h"

namespace Zent::Scheduler {

class ITickHandler {
public:
    virtual ~ITickHandler() = default;
    // Called on the scheduler's timer thread with the scheduler's event lock held: hand
    // the tick off, never call back into the scheduler, and do not throw.
    virtual void OnTick(std::shared_ptr<Common::Kernel::IMessage> userData,
                        std::shared_ptr<Common::Security::CUserContext> userContext) = 0;
};

}  // namespace Zent::Scheduler

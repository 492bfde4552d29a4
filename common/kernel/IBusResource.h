#pragma once

// The message bus: subscriptions by type number, and sending.
//
//     bus->Subscribe(subscriber, CRegisterTimeEvent::kType);
//     bus->Send(reply, userContext);   // delivered later, on the bus's own threads

#include <cstdint>
#include <memory>

#include "common/kernel/IResource.h"
#include "common/kernel/ISubscriber.h"

namespace Zent::Common::Kernel {

class IBusResource : public IResource {
public:
    // From now on every message of `type` is delivered to `subscriber`.
    virtual void Subscribe(std::shared_ptr<ISubscriber> subscriber, std::int32_t type) = 0;
    // Hands `message` over for delivery, with the sender's user context. Returns false
    // when the bus did not take it.
    virtual bool Send(std::shared_ptr<IMessage> message, UserContextPtr userContext) = 0;
};

}  // namespace Zent::Common::Kernel

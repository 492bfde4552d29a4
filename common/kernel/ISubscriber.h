#pragma once

// What the bus delivers to: a module's queueing subscriber.
//
//     bus->Subscribe(subscriber, CRegisterTimeEvent::kType);
//     // later: subscriber->OnMessage(message, context)

#include <functional>
#include <memory>
#include <string>

#include "common/kernel/IMessage.h"

namespace Zent::Common::Security {
class CUserContext;
}

namespace Zent::Common::Kernel {

using UserContextPtr = std::shared_ptr<Security::CUserContext>;

// Receives the messages of the types it subscribed to. The kernel calls OnMessage on
// threads of its own; a subscriber only queues there.
class ISubscriber {
public:
    using Visitor = std::function<void(const std::shared_ptr<IMessage>&, const UserContextPtr&)>;

    virtual ~ISubscriber() = default;
    virtual void OnMessage(std::shared_ptr<IMessage> message, UserContextPtr userContext) = 0;
    // True and an empty text when nothing is queued; otherwise false and
    // "<name>:<type name>,<type name>,..." of the queued messages.
    virtual bool DescribeQueue(std::string& text) = 0;
    // Calls `visitor` for each queued delivery in order. This base ignores it.
    virtual void ForEachQueued(const Visitor& visitor) { (void)visitor; }
};

}  // namespace Zent::Common::Kernel

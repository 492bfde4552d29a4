#pragma once

// Every message that travels on the agent's bus.
//
//     std::shared_ptr<IMessage> request = ...;
//     switch (request->GetType()) { case CRegisterTimeEvent::kType: ... }
//     log << request->GetTypeName();
//     bool same = stored->IsEqual(request);   // same type and equal content
//
// Messages are shared between threads once sent; their content does not change then.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace Zent::Common::Kernel {

class IMessage {
public:
    virtual ~IMessage() = default;

    // The type number by which the bus routes the message.
    virtual std::int32_t GetType() const = 0;
    // A text naming the message, for logs and errors.
    virtual std::string GetTypeName() const = 0;
    // True when `other` is a message of the same class and type with equal content;
    // false for a null `other`.
    virtual bool IsEqual(const std::shared_ptr<IMessage>& other) const = 0;
    // Equal for messages that IsEqual calls equal. Registries index messages by it (the
    // scheduler finds a registration by its user data this way), so a class whose
    // messages are compared by content should mix that content in, as every scheduler
    // message does. The default, the type number's hash, puts all messages of a type in
    // one bucket: a registry of n of them then compares each lookup and each registration
    // with all n (O(n) work, done under the registry's lock).
    virtual std::size_t GetHash() const { return std::hash<std::int32_t>{}(GetType()); }
};

}  // namespace Zent::Common::Kernel

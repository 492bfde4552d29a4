#pragma once

// A message for the host's tests: a type number, the sender that sent it and its place in
// that sender's sequence.
//
//     bus.Send(std::make_shared<CTestMessage>(900, senderIndex, sequenceNumber), context);

#include <cstdint>
#include <memory>
#include <string>

#include "common/kernel/IMessage.h"

namespace Zent::HostTests {

class CTestMessage : public Common::Kernel::IMessage {
public:
    CTestMessage(std::int32_t type, int sender, int sequence)
        : type_(type), sender_(sender), sequence_(sequence) {}

    std::int32_t GetType() const override { return type_; }
    std::string GetTypeName() const override { return "TestMessage" + std::to_string(type_); }
    bool IsEqual(const std::shared_ptr<Common::Kernel::IMessage>& other) const override {
        const auto* message = dynamic_cast<const CTestMessage*>(other.get());
        return message != nullptr && message->type_ == type_ && message->sender_ == sender_ &&
               message->sequence_ == sequence_;
    }

    int GetSender() const { return sender_; }
    int GetSequence() const { return sequence_; }

private:
    const std::int32_t type_;
    const int sender_;
    const int sequence_;
};

}  // namespace Zent::HostTests

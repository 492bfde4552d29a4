#pragma once

// Registers a one-time event that ticks once, `sleepSeconds` from now, by sending the user
// data. Never answered, also not when it fails.
//
//     auto request = std::make_shared<CRegisterSleepEvent>();
//     request->SetSleepSeconds(30);
//     request->SetUserData(wakeUpMessage);

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "common/kernel/IMessage.h"
#include "common/message/Request.h"

namespace Zent::Common::Message::Scheduler {

class CRegisterSleepEvent : public CRequest {
public:
    // The bus type number; other modules send and match it, so it never changes.
    static constexpr std::int32_t kType = 320;

    using CRequest::CRequest;

    std::int32_t GetType() const override;
    // "RegisterSleepEvent".
    std::string GetTypeName() const override;
    // True for a CRegisterSleepEvent with equal `sleepSeconds` and user data that this one's user
    // data calls equal; the request id takes no part.
    bool IsEqual(const std::shared_ptr<Kernel::IMessage>& other) const override;
    // Mixes in the same content as IsEqual.
    std::size_t GetHash() const override;

    // Seconds until the one tick.
    std::uint32_t GetSleepSeconds() const { return sleepSeconds_; }
    void SetSleepSeconds(std::uint32_t sleepSeconds) { sleepSeconds_ = sleepSeconds; }

    // The message sent at the tick; must not be empty.
    const std::shared_ptr<Kernel::IMessage>& GetUserData() const { return userData_; }
    void SetUserData(std::shared_ptr<Kernel::IMessage> userData) {
        userData_ = std::move(userData);
    }

private:
    std::uint32_t sleepSeconds_{0};
    std::shared_ptr<Kernel::IMessage> userData_;
};

}  // namespace Zent::Common::Message::Scheduler

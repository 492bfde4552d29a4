#pragma once

// Registers a crontab-based time event; each tick sends the user data. A registration with
// equal user data is replaced. Answered by CRegisterTimeEventResponse.
//
//     auto request = std::make_shared<CRegisterTimeEvent>(ids->NextId());
//     request->SetTimeEvent(everyHour);
//     request->SetUserData(myTickMessage);

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "common/kernel/IMessage.h"
#include "common/message/Request.h"
#include "datadefinition/Scheduler.pb.h"

namespace Zent::Common::Message::Scheduler {

class CRegisterTimeEvent : public CRequest {
public:
    // The bus type number; other modules send and match it, so it never changes.
    static constexpr std::int32_t kType = 321;

    using CRequest::CRequest;

    std::int32_t GetType() const override;
    // "RegisterTimeEvent".
    std::string GetTypeName() const override;
    // True for a CRegisterTimeEvent with equal `timeEvent` and user data that this one's user data
    // calls equal; the request id takes no part.
    bool IsEqual(const std::shared_ptr<Kernel::IMessage>& other) const override;
    // Mixes in the same content as IsEqual.
    std::size_t GetHash() const override;

    const DataDefinition::Scheduler::TimeEvent& GetTimeEvent() const { return timeEvent_; }
    void SetTimeEvent(DataDefinition::Scheduler::TimeEvent timeEvent) {
        timeEvent_ = std::move(timeEvent);
    }

    // The message sent at each tick; also what identifies the registration.
    const std::shared_ptr<Kernel::IMessage>& GetUserData() const { return userData_; }
    void SetUserData(std::shared_ptr<Kernel::IMessage> userData) {
        userData_ = std::move(userData);
    }

private:
    DataDefinition::Scheduler::TimeEvent timeEvent_;
    std::shared_ptr<Kernel::IMessage> userData_;
};

}  // namespace Zent::Common::Message::Scheduler

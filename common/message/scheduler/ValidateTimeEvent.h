#pragma once

// Checks that a time event will occur, without registering it. Answered by
// CValidateTimeEventResponse.
//
//     auto request = std::make_shared<CValidateTimeEvent>(ids->NextId());
//     request->SetTimeEvent(candidate);
//     request->SetTimeZoneSlack(true);

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "common/kernel/IMessage.h"
#include "common/message/Request.h"
#include "datadefinition/Scheduler.pb.h"

namespace Zent::Common::Message::Scheduler {

class CValidateTimeEvent : public CRequest {
public:
    // The bus type number; other modules send and match it, so it never changes.
    static constexpr std::int32_t kType = 324;

    using CRequest::CRequest;

    std::int32_t GetType() const override;
    // "ValidateTimeEvent".
    std::string GetTypeName() const override;
    // True for a CValidateTimeEvent with equal `timeEvent` and equal `timeZoneSlack`; the request
    // id takes no part.
    bool IsEqual(const std::shared_ptr<Kernel::IMessage>& other) const override;
    // Mixes in the same content as IsEqual.
    std::size_t GetHash() const override;

    const DataDefinition::Scheduler::TimeEvent& GetTimeEvent() const { return timeEvent_; }
    void SetTimeEvent(DataDefinition::Scheduler::TimeEvent timeEvent) {
        timeEvent_ = std::move(timeEvent);
    }

    // True: allow 12 hours of margin for time-zone differences.
    bool GetTimeZoneSlack() const { return timeZoneSlack_; }
    void SetTimeZoneSlack(bool timeZoneSlack) { timeZoneSlack_ = timeZoneSlack; }

private:
    DataDefinition::Scheduler::TimeEvent timeEvent_;
    bool timeZoneSlack_{false};
};

}  // namespace Zent::Common::Message::Scheduler

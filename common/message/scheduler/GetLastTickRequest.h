#pragma once

// Asks for the last tick that a time event will ever produce. Answered by
// CGetLastTickResponse.
//
//     auto request = std::make_shared<CGetLastTickRequest>(ids->NextId());
//     request->SetTimeEvent(tenTimes);

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "common/kernel/IMessage.h"
#include "common/message/Request.h"
#include "datadefinition/Scheduler.pb.h"

namespace Zent::Common::Message::Scheduler {

class CGetLastTickRequest : public CRequest {
public:
    // The bus type number; other modules send and match it, so it never changes.
    static constexpr std::int32_t kType = 556;

    using CRequest::CRequest;

    std::int32_t GetType() const override;
    // "GetLastTickRequest".
    std::string GetTypeName() const override;
    // True for a CGetLastTickRequest with equal `timeEvent`; the request id takes no part.
    bool IsEqual(const std::shared_ptr<Kernel::IMessage>& other) const override;
    // Mixes in the same content as IsEqual.
    std::size_t GetHash() const override;

    const DataDefinition::Scheduler::TimeEvent& GetTimeEvent() const { return timeEvent_; }
    void SetTimeEvent(DataDefinition::Scheduler::TimeEvent timeEvent) {
        timeEvent_ = std::move(timeEvent);
    }

private:
    DataDefinition::Scheduler::TimeEvent timeEvent_;
};

}  // namespace Zent::Common::Message::Scheduler

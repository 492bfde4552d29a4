#pragma once

// Asks for the seconds until the next tick of the registered event whose time event is
// identical to the given one. Answered by CGetRemainingTimeResponse.
//
//     auto request = std::make_shared<CGetRemainingTimeBySpecRequest>(ids->NextId());
//     request->SetTimeEvent(registeredEvent);

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "common/kernel/IMessage.h"
#include "common/message/Request.h"
#include "datadefinition/Scheduler.pb.h"

namespace Zent::Common::Message::Scheduler {

class CGetRemainingTimeBySpecRequest : public CRequest {
public:
    // The bus type number; other modules send and match it, so it never changes.
    static constexpr std::int32_t kType = 317;

    using CRequest::CRequest;

    std::int32_t GetType() const override;
    // "GetRemainingTimeBySpecRequest".
    std::string GetTypeName() const override;
    // True for a CGetRemainingTimeBySpecRequest with equal `timeEvent`; the request id takes no
    // part.
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

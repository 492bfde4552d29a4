#pragma once

// Answers CGetAllTimeZoneDetailsRequest: one record per time zone.
//
//     for (const auto& zone : response->GetDetailsList()) Show(zone);
//
// Every setter throws std::runtime_error "Message is read only" once SetReadOnly was called,
// and then changes nothing.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "common/kernel/IMessage.h"
#include "common/message/Response.h"
#include "datadefinition/Common.pb.h"

namespace Zent::Common::Message::Scheduler {

class CGetAllTimeZoneDetailsResponse : public Message::CResponse {
public:
    // The bus type number; other modules send and match it, so it never changes.
    static constexpr std::int32_t kType = 633;

    using Message::CResponse::CResponse;

    std::int32_t GetType() const override;
    // "GetAllTimeZoneDetailsResponse".
    std::string GetTypeName() const override;
    // True for a CGetAllTimeZoneDetailsResponse with equal `detailsList` (same length, records
    // equal pairwise); the request id and the read-only flag take no part.
    bool IsEqual(const std::shared_ptr<Kernel::IMessage>& other) const override;
    // Mixes in the same content as IsEqual.
    std::size_t GetHash() const override;

    const std::vector<DataDefinition::Common::TimeZoneDetails>& GetDetailsList() const {
        return detailsList_;
    }
    void SetDetailsList(std::vector<DataDefinition::Common::TimeZoneDetails> detailsList) {
        CheckWritable();
        detailsList_ = std::move(detailsList);
    }

private:
    std::vector<DataDefinition::Common::TimeZoneDetails> detailsList_;
};

}  // namespace Zent::Common::Message::Scheduler

#pragma once

// Answers CGetTimeZoneDetailsRequest.
//
//     Show(response->GetDetails());
//
// Every setter throws std::runtime_error "Message is read only" once SetReadOnly was called,
// and then changes nothing.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "common/kernel/IMessage.h"
#include "common/message/Response.h"
#include "datadefinition/Common.pb.h"

namespace Zent::Common::Message::Scheduler {

class CGetTimeZoneDetailsResponse : public Message::CResponse {
public:
    // The bus type number; other modules send and match it, so it never changes.
    static constexpr std::int32_t kType = 635;

    using Message::CResponse::CResponse;

    std::int32_t GetType() const override;
    // "GetTimeZoneDetailsResponse".
    std::string GetTypeName() const override;
    // True for a CGetTimeZoneDetailsResponse with equal `details`; the request id and the read-
    // only flag take no part.
    bool IsEqual(const std::shared_ptr<Kernel::IMessage>& other) const override;
    // Mixes in the same content as IsEqual.
    std::size_t GetHash() const override;

    const DataDefinition::Common::TimeZoneDetails& GetDetails() const { return details_; }
    void SetDetails(DataDefinition::Common::TimeZoneDetails details) {
        CheckWritable();
        details_ = std::move(details);
    }

private:
    DataDefinition::Common::TimeZoneDetails details_;
};

}  // namespace Zent::Common::Message::Scheduler

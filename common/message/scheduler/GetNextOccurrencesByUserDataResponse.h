#pragma once

// Answers CGetNextOccurrencesByUserDataRequest: the occurrences in ascending order (UTC);
// empty when no registration has equal user data.
//
//     for (const auto& time : response->GetOccurrences()) Show(time);
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

class CGetNextOccurrencesByUserDataResponse : public Message::CResponse {
public:
    // The bus type number; other modules send and match it, so it never changes.
    static constexpr std::int32_t kType = 755;

    using Message::CResponse::CResponse;

    std::int32_t GetType() const override;
    // "GetNextOccurrencesByUserDataResponse".
    std::string GetTypeName() const override;
    // True for a CGetNextOccurrencesByUserDataResponse with equal `occurrences` (same length,
    // records equal pairwise); the request id and the read-only flag take no part.
    bool IsEqual(const std::shared_ptr<Kernel::IMessage>& other) const override;
    // Mixes in the same content as IsEqual.
    std::size_t GetHash() const override;

    const std::vector<DataDefinition::Common::UTCTime>& GetOccurrences() const {
        return occurrences_;
    }
    void SetOccurrences(std::vector<DataDefinition::Common::UTCTime> occurrences) {
        CheckWritable();
        occurrences_ = std::move(occurrences);
    }

private:
    std::vector<DataDefinition::Common::UTCTime> occurrences_;
};

}  // namespace Zent::Common::Message::Scheduler

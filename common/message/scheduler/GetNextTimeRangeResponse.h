#pragma once

// Answers CGetNextTimeRangeRequest: the range found, if any.
//
//     if (response->GetFound()) Show(response->GetRangeStart(), response->GetRangeEnd());
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

class CGetNextTimeRangeResponse : public Message::CResponse {
public:
    // The bus type number; other modules send and match it, so it never changes.
    static constexpr std::int32_t kType = 316;

    using Message::CResponse::CResponse;

    std::int32_t GetType() const override;
    // "GetNextTimeRangeResponse".
    std::string GetTypeName() const override;
    // True for a CGetNextTimeRangeResponse with equal `rangeStart`, equal `rangeEnd` and equal
    // `found`; the request id and the read-only flag take no part.
    bool IsEqual(const std::shared_ptr<Kernel::IMessage>& other) const override;
    // Mixes in the same content as IsEqual.
    std::size_t GetHash() const override;

    // Empty unless a range was found.
    const DataDefinition::Common::UTCTime& GetRangeStart() const { return rangeStart_; }
    void SetRangeStart(DataDefinition::Common::UTCTime rangeStart) {
        CheckWritable();
        rangeStart_ = std::move(rangeStart);
    }

    // Empty unless a range was found.
    const DataDefinition::Common::UTCTime& GetRangeEnd() const { return rangeEnd_; }
    void SetRangeEnd(DataDefinition::Common::UTCTime rangeEnd) {
        CheckWritable();
        rangeEnd_ = std::move(rangeEnd);
    }

    bool GetFound() const { return found_; }
    void SetFound(bool found) {
        CheckWritable();
        found_ = found;
    }

private:
    DataDefinition::Common::UTCTime rangeStart_;
    DataDefinition::Common::UTCTime rangeEnd_;
    bool found_{false};
};

}  // namespace Zent::Common::Message::Scheduler

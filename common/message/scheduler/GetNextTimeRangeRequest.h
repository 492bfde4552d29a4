#pragma once

// Asks for the earliest time range, among those that the given crontab definitions open,
// that has not ended at `fromTime`. Answered by CGetNextTimeRangeResponse.
//
//     auto request = std::make_shared<CGetNextTimeRangeRequest>(ids->NextId());
//     request->SetRanges({officeHours, maintenanceWindow});
//     request->SetFromTime(now);

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "common/kernel/IMessage.h"
#include "common/message/Request.h"
#include "datadefinition/Common.pb.h"
#include "datadefinition/Scheduler.pb.h"

namespace Zent::Common::Message::Scheduler {

class CGetNextTimeRangeRequest : public CRequest {
public:
    // The bus type number; other modules send and match it, so it never changes.
    static constexpr std::int32_t kType = 315;

    using CRequest::CRequest;

    std::int32_t GetType() const override;
    // "GetNextTimeRangeRequest".
    std::string GetTypeName() const override;
    // True for a CGetNextTimeRangeRequest with equal `ranges` (same length, records equal
    // pairwise) and equal `fromTime`; the request id takes no part.
    bool IsEqual(const std::shared_ptr<Kernel::IMessage>& other) const override;
    // Mixes in the same content as IsEqual.
    std::size_t GetHash() const override;

    // Each opens a range at the ticks of its crontab text that lasts its duration.
    const std::vector<DataDefinition::Scheduler::TimeRangeItem>& GetRanges() const {
        return ranges_;
    }
    void SetRanges(std::vector<DataDefinition::Scheduler::TimeRangeItem> ranges) {
        ranges_ = std::move(ranges);
    }

    // The instant from which to search.
    const DataDefinition::Common::UTCTime& GetFromTime() const { return fromTime_; }
    void SetFromTime(DataDefinition::Common::UTCTime fromTime) { fromTime_ = std::move(fromTime); }

private:
    std::vector<DataDefinition::Scheduler::TimeRangeItem> ranges_;
    DataDefinition::Common::UTCTime fromTime_;
};

}  // namespace Zent::Common::Message::Scheduler

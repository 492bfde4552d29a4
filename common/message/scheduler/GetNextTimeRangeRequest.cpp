#include "common/message/scheduler/GetNextTimeRangeRequest.h"

#include "common/message/MessageEquality.h"

namespace Zent::Common::Message::Scheduler {

std::int32_t CGetNextTimeRangeRequest::GetType() const {
    return kType;
}

std::string CGetNextTimeRangeRequest::GetTypeName() const {
    return "GetNextTimeRangeRequest";
}

bool CGetNextTimeRangeRequest::IsEqual(const std::shared_ptr<Kernel::IMessage>& other) const {
    return IsSameClassAnd(*this, other, [this](const CGetNextTimeRangeRequest& that) {
        return EqualRecords(ranges_, that.ranges_) && EqualRecords(fromTime_, that.fromTime_);
    });
}

std::size_t CGetNextTimeRangeRequest::GetHash() const {
    return HashContent(*this, ranges_, fromTime_);
}

}  // namespace Zent::Common::Message::Scheduler

#include "common/message/scheduler/GetNextTimeRangeResponse.h"

#include "common/message/MessageEquality.h"

namespace Zent::Common::Message::Scheduler {

std::int32_t CGetNextTimeRangeResponse::GetType() const {
    return kType;
}

std::string CGetNextTimeRangeResponse::GetTypeName() const {
    return "GetNextTimeRangeResponse";
}

bool CGetNextTimeRangeResponse::IsEqual(const std::shared_ptr<Kernel::IMessage>& other) const {
    return IsSameClassAnd(*this, other, [this](const CGetNextTimeRangeResponse& that) {
        return EqualRecords(rangeStart_, that.rangeStart_) &&
               EqualRecords(rangeEnd_, that.rangeEnd_) && found_ == that.found_;
    });
}

std::size_t CGetNextTimeRangeResponse::GetHash() const {
    return HashContent(*this, rangeStart_, rangeEnd_, found_);
}

}  // namespace Zent::Common::Message::Scheduler

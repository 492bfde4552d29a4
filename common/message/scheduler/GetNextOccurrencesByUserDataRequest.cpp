#include "common/message/scheduler/GetNextOccurrencesByUserDataRequest.h"

#include "common/message/MessageEquality.h"

namespace Zent::Common::Message::Scheduler {

std::int32_t CGetNextOccurrencesByUserDataRequest::GetType() const {
    return kType;
}

std::string CGetNextOccurrencesByUserDataRequest::GetTypeName() const {
    return "GetNextOccurrencesByUserDataRequest";
}

bool CGetNextOccurrencesByUserDataRequest::IsEqual(
    const std::shared_ptr<Kernel::IMessage>& other) const {
    return IsSameClassAnd(*this, other, [this](const CGetNextOccurrencesByUserDataRequest& that) {
        return EqualRecords(fromTime_, that.fromTime_) && count_ == that.count_ &&
               EqualUserData(userData_, that.userData_);
    });
}

std::size_t CGetNextOccurrencesByUserDataRequest::GetHash() const {
    return HashContent(*this, fromTime_, count_, userData_);
}

}  // namespace Zent::Common::Message::Scheduler

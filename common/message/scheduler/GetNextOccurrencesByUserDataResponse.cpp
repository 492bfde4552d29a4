#include "common/message/scheduler/GetNextOccurrencesByUserDataResponse.h"

#include "common/message/MessageEquality.h"

namespace Zent::Common::Message::Scheduler {

std::int32_t CGetNextOccurrencesByUserDataResponse::GetType() const {
    return kType;
}

std::string CGetNextOccurrencesByUserDataResponse::GetTypeName() const {
    return "GetNextOccurrencesByUserDataResponse";
}

bool CGetNextOccurrencesByUserDataResponse::IsEqual(
    const std::shared_ptr<Kernel::IMessage>& other) const {
    return IsSameClassAnd(*this, other, [this](const CGetNextOccurrencesByUserDataResponse& that) {
        return EqualRecords(occurrences_, that.occurrences_);
    });
}

std::size_t CGetNextOccurrencesByUserDataResponse::GetHash() const {
    return HashContent(*this, occurrences_);
}

}  // namespace Zent::Common::Message::Scheduler

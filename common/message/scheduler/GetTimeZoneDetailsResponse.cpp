#include "common/message/scheduler/GetTimeZoneDetailsResponse.h"

#include "common/message/MessageEquality.h"

namespace Zent::Common::Message::Scheduler {

std::int32_t CGetTimeZoneDetailsResponse::GetType() const {
    return kType;
}

std::string CGetTimeZoneDetailsResponse::GetTypeName() const {
    return "GetTimeZoneDetailsResponse";
}

bool CGetTimeZoneDetailsResponse::IsEqual(const std::shared_ptr<Kernel::IMessage>& other) const {
    return IsSameClassAnd(*this, other, [this](const CGetTimeZoneDetailsResponse& that) {
        return EqualRecords(details_, that.details_);
    });
}

std::size_t CGetTimeZoneDetailsResponse::GetHash() const {
    return HashContent(*this, details_);
}

}  // namespace Zent::Common::Message::Scheduler

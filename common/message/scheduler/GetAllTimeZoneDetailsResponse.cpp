#include "common/message/scheduler/GetAllTimeZoneDetailsResponse.h"

#include "common/message/MessageEquality.h"

namespace Zent::Common::Message::Scheduler {

std::int32_t CGetAllTimeZoneDetailsResponse::GetType() const {
    return kType;
}

std::string CGetAllTimeZoneDetailsResponse::GetTypeName() const {
    return "GetAllTimeZoneDetailsResponse";
}

bool CGetAllTimeZoneDetailsResponse::IsEqual(const std::shared_ptr<Kernel::IMessage>& other) const {
    return IsSameClassAnd(*this, other, [this](const CGetAllTimeZoneDetailsResponse& that) {
        return EqualRecords(detailsList_, that.detailsList_);
    });
}

std::size_t CGetAllTimeZoneDetailsResponse::GetHash() const {
    return HashContent(*this, detailsList_);
}

}  // namespace Zent::Common::Message::Scheduler

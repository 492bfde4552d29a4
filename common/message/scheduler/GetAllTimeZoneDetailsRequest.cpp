#include "common/message/scheduler/GetAllTimeZoneDetailsRequest.h"

#include "common/message/MessageEquality.h"

namespace Zent::Common::Message::Scheduler {

std::int32_t CGetAllTimeZoneDetailsRequest::GetType() const {
    return kType;
}

std::string CGetAllTimeZoneDetailsRequest::GetTypeName() const {
    return "GetAllTimeZoneDetailsRequest";
}

bool CGetAllTimeZoneDetailsRequest::IsEqual(const std::shared_ptr<Kernel::IMessage>& other) const {
    return IsSameClassAnd(*this, other, [this](const CGetAllTimeZoneDetailsRequest& that) {
        return localeName_ == that.localeName_;
    });
}

std::size_t CGetAllTimeZoneDetailsRequest::GetHash() const {
    return HashContent(*this, localeName_);
}

}  // namespace Zent::Common::Message::Scheduler

#include "common/message/scheduler/GetRemainingTimeByUserDataRequest.h"

#include "common/message/MessageEquality.h"

namespace Zent::Common::Message::Scheduler {

std::int32_t CGetRemainingTimeByUserDataRequest::GetType() const {
    return kType;
}

std::string CGetRemainingTimeByUserDataRequest::GetTypeName() const {
    return "GetRemainingTimeByUserDataRequest";
}

bool CGetRemainingTimeByUserDataRequest::IsEqual(
    const std::shared_ptr<Kernel::IMessage>& other) const {
    return IsSameClassAnd(*this, other, [this](const CGetRemainingTimeByUserDataRequest& that) {
        return EqualUserData(userData_, that.userData_);
    });
}

std::size_t CGetRemainingTimeByUserDataRequest::GetHash() const {
    return HashContent(*this, userData_);
}

}  // namespace Zent::Common::Message::Scheduler

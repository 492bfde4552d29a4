#include "common/message/scheduler/ValidateTimeEventResponse.h"

#include "common/message/MessageEquality.h"

namespace Zent::Common::Message::Scheduler {

std::int32_t CValidateTimeEventResponse::GetType() const {
    return kType;
}

std::string CValidateTimeEventResponse::GetTypeName() const {
    return "ValidateTimeEventResponse";
}

bool CValidateTimeEventResponse::IsEqual(const std::shared_ptr<Kernel::IMessage>& other) const {
    return IsSameClassAnd(*this, other, [](const CValidateTimeEventResponse&) { return true; });
}

}  // namespace Zent::Common::Message::Scheduler

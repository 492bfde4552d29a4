#include "common/message/scheduler/RegisterTimeEventResponse.h"

#include "common/message/MessageEquality.h"

namespace Zent::Common::Message::Scheduler {

std::int32_t CRegisterTimeEventResponse::GetType() const {
    return kType;
}

std::string CRegisterTimeEventResponse::GetTypeName() const {
    return "RegisterTimeEventResponse";
}

bool CRegisterTimeEventResponse::IsEqual(const std::shared_ptr<Kernel::IMessage>& other) const {
    return IsSameClassAnd(*this, other, [](const CRegisterTimeEventResponse&) { return true; });
}

}  // namespace Zent::Common::Message::Scheduler

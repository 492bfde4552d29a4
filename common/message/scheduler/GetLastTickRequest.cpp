#include "common/message/scheduler/GetLastTickRequest.h"

#include "common/message/MessageEquality.h"

namespace Zent::Common::Message::Scheduler {

std::int32_t CGetLastTickRequest::GetType() const {
    return kType;
}

std::string CGetLastTickRequest::GetTypeName() const {
    return "GetLastTickRequest";
}

bool CGetLastTickRequest::IsEqual(const std::shared_ptr<Kernel::IMessage>& other) const {
    return IsSameClassAnd(*this, other, [this](const CGetLastTickRequest& that) {
        return EqualRecords(timeEvent_, that.timeEvent_);
    });
}

std::size_t CGetLastTickRequest::GetHash() const {
    return HashContent(*this, timeEvent_);
}

}  // namespace Zent::Common::Message::Scheduler

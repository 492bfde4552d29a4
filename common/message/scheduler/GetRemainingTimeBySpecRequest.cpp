#include "common/message/scheduler/GetRemainingTimeBySpecRequest.h"

#include "common/message/MessageEquality.h"

namespace Zent::Common::Message::Scheduler {

std::int32_t CGetRemainingTimeBySpecRequest::GetType() const {
    return kType;
}

std::string CGetRemainingTimeBySpecRequest::GetTypeName() const {
    return "GetRemainingTimeBySpecRequest";
}

bool CGetRemainingTimeBySpecRequest::IsEqual(const std::shared_ptr<Kernel::IMessage>& other) const {
    return IsSameClassAnd(*this, other, [this](const CGetRemainingTimeBySpecRequest& that) {
        return EqualRecords(timeEvent_, that.timeEvent_);
    });
}

std::size_t CGetRemainingTimeBySpecRequest::GetHash() const {
    return HashContent(*this, timeEvent_);
}

}  // namespace Zent::Common::Message::Scheduler

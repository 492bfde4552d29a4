#pragma once

// The base of every request: a message with the id that its reply repeats.
//
//     auto request = std::make_shared<CGetLastTickRequest>(ids->NextId());
//     bus->Send(request, context);   // the reply carries request->GetRequestId()

#include <cstdint>

#include "common/kernel/IMessage.h"

namespace Zent::Common::Message {

class CRequest : public Kernel::IMessage {
public:
    explicit CRequest(std::uint32_t requestId = 0) : requestId_(requestId) {}

    std::uint32_t GetRequestId() const { return requestId_; }
    void SetRequestId(std::uint32_t requestId) { requestId_ = requestId; }

private:
    std::uint32_t requestId_;
};

}  // namespace Zent::Common::Message

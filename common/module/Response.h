#pragma once

// The base of every reply: a message that answers the request with the same request id.
//
//     class CPong : public CResponse { ... };
//     auto reply = std::make_shared<CPong>(request->GetRequestId());

#include <cstdint>

#include "common/kernel/IMessage.h"

namespace Zent::Common::Module {

class CResponse : public Kernel::IMessage {
public:
    explicit CResponse(std::uint32_t requestId) : requestId_(requestId) {}

    std::uint32_t GetRequestId() const { return requestId_; }

private:
    std::uint32_t requestId_;
};

}  // namespace Zent::Common::Module

#pragma once

// Answers CRegisterTimeEvent: the event is registered.
//
//     auto response = std::make_shared<CRegisterTimeEventResponse>(request->GetRequestId());

#include <cstdint>
#include <memory>
#include <string>

#include "common/kernel/IMessage.h"
#include "common/message/Response.h"

namespace Zent::Common::Message::Scheduler {

class CRegisterTimeEventResponse : public Message::CResponse {
public:
    // The bus type number; other modules send and match it, so it never changes.
    static constexpr std::int32_t kType = 322;

    using Message::CResponse::CResponse;

    std::int32_t GetType() const override;
    // "RegisterTimeEventResponse".
    std::string GetTypeName() const override;
    // True for any other CRegisterTimeEventResponse.
    bool IsEqual(const std::shared_ptr<Kernel::IMessage>& other) const override;
};

}  // namespace Zent::Common::Message::Scheduler

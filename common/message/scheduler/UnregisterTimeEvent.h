#pragma once

// Removes the registration with equal user data, if there is one. Never answered.
//
//     auto request = std::make_shared<CUnregisterTimeEvent>();
//     request->SetUserData(myTickMessage);

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "common/kernel/IMessage.h"
#include "common/message/Request.h"

namespace Zent::Common::Message::Scheduler {

class CUnregisterTimeEvent : public CRequest {
public:
    // The bus type number; other modules send and match it, so it never changes.
    static constexpr std::int32_t kType = 323;

    using CRequest::CRequest;

    std::int32_t GetType() const override;
    // "UnregisterTimeEvent".
    std::string GetTypeName() const override;
    // True for a CUnregisterTimeEvent with user data that this one's user data calls equal; the
    // request id takes no part.
    bool IsEqual(const std::shared_ptr<Kernel::IMessage>& other) const override;
    // Mixes in the same content as IsEqual.
    std::size_t GetHash() const override;

    // The user data of the registration to remove.
    const std::shared_ptr<Kernel::IMessage>& GetUserData() const { return userData_; }
    void SetUserData(std::shared_ptr<Kernel::IMessage> userData) {
        userData_ = std::move(userData);
    }

private:
    std::shared_ptr<Kernel::IMessage> userData_;
};

}  // namespace Zent::Common::Message::Scheduler

#pragma once

// The error reply: answers a failed request with the exception that ended it, so the
// requesting module can throw that exception again in its own code.
//
//     auto reply = std::make_shared<CResponseException>(request->GetRequestId());
//     reply->SetHolder(std::make_unique<CExceptionHolderImpl<CNoEventException>>(
//         CNoEventException("User data not found.")));
//     ...
//     if (message->GetType() == CResponseException::kType) reply->GetHolder()->Rethrow();
//
// An error reply has no read-only switch.

#include <cstdint>
#include <memory>
#include <string>

#include "common/module/ExceptionHolder.h"
#include "common/module/Response.h"

namespace Zent::Common::Module {

class CResponseException : public CResponse {
public:
    static constexpr std::int32_t kType = 1;

    // Made without a holder.
    explicit CResponseException(std::uint32_t requestId);
    ~CResponseException() override;

    std::int32_t GetType() const override;
    // "CResponseException".
    std::string GetTypeName() const override;
    // True only for an error reply that holds the very same holder object as this one (or,
    // like this one, none): two replies with equal texts are different failures.
    bool IsEqual(const std::shared_ptr<Kernel::IMessage>& other) const override;

    // Takes the holder; the previous one is deleted.
    void SetHolder(std::unique_ptr<CExceptionHolder> holder);
    // The holder, owned by the reply; null until one was set.
    const CExceptionHolder* GetHolder() const { return holder_.get(); }

private:
    std::unique_ptr<CExceptionHolder> holder_;
};

}  // namespace Zent::Common::Module

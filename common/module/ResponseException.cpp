#include "common/module/ResponseException.h"

#include <utility>

namespace Zent::Common::Module {

CResponseException::CResponseException(std::uint32_t requestId) : CResponse(requestId) {}

CResponseException::~CResponseException() = default;

std::int32_t CResponseException::GetType() const {
    return kType;
}

std::string CResponseException::GetTypeName() const {
    // Fixed text: other programs match it; keep it exactly as it is.
    return "CResponseException";
}

bool CResponseException::IsEqual(const std::shared_ptr<Kernel::IMessage>& other) const {
    const auto* that = dynamic_cast<const CResponseException*>(other.get());
    return that != nullptr && that->GetType() == kType && that->holder_ == holder_;
}

void CResponseException::SetHolder(std::unique_ptr<CExceptionHolder> holder) {
    holder_ = std::move(holder);
}

}  // namespace Zent::Common::Module

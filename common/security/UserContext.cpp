#include "common/security/UserContext.h"

#include "common/security/SystemUser.h"

namespace Zent::Common::Security {

namespace {
// The per-thread slot; released when its thread ends.
thread_local std::shared_ptr<CUserContext> currentContext;
}  // namespace

std::shared_ptr<IUser> CUserContext::GetUser() const {
    std::lock_guard lock(lock_);
    return user_;
}

std::string CUserContext::GetUserUuid() const {
    const std::shared_ptr<IUser> user = GetUser();
    return user ? user->GetUuid() : std::string();
}

std::shared_ptr<CUserContext> CUserContext::GetCurrent() {
    return currentContext;
}

void CUserContext::SetCurrent(std::shared_ptr<CUserContext> context) {
    currentContext = std::move(context);
}

std::shared_ptr<CUserContext> CUserContext::EnsureCurrent() {
    if (!currentContext) currentContext = std::make_shared<CUserContext>();
    return currentContext;
}

void EnsureSystemUser() {
    const std::shared_ptr<CUserContext> context = CUserContext::EnsureCurrent();
    if (context->GetUserUuid() == CSystemUser::kUuid) return;
    CUserContext::SetCurrent(std::make_shared<CUserContext>(std::make_shared<CSystemUser>()));
}

}  // namespace Zent::Common::Security

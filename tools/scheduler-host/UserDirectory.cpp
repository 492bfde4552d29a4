#include "tools/scheduler-host/UserDirectory.h"

#include "common/security/UserContext.h"
#include "tools/scheduler-host/NamedUser.h"

namespace Zent::Tools::SchedulerHost {

Common::Kernel::UserContextPtr CUserDirectory::ContextOf(const std::string& name) {
    std::lock_guard lock(lock_);
    auto& context = contexts_[name];
    if (!context) {
        context =
            std::make_shared<Common::Security::CUserContext>(std::make_shared<CNamedUser>(name));
    }
    return context;
}

std::string UserNameOf(const Common::Kernel::UserContextPtr& context) {
    if (!context) return {};
    const auto user = context->GetUser();
    return user ? user->GetName() : std::string();
}

}  // namespace Zent::Tools::SchedulerHost

#pragma once

// The user contexts on whose behalf scheduler-host sends its requests: one per user name,
// each with a CNamedUser.
//
//     CUserDirectory users;
//     host.Send(request, users.ContextOf("alice"));
//     // a reply or tick carries that context back:
//     UserNameOf(context);   // "alice"; empty for a context without a user

#include <map>
#include <mutex>
#include <string>

#include "common/kernel/ISubscriber.h"

namespace Zent::Tools::SchedulerHost {

// One user context per name, made on first use. Thread-safe.
class CUserDirectory {
public:
    Common::Kernel::UserContextPtr ContextOf(const std::string& name);

private:
    std::mutex lock_;
    std::map<std::string, Common::Kernel::UserContextPtr> contexts_;
};

// The name of the context's user; empty for a null context or one without a user.
std::string UserNameOf(const Common::Kernel::UserContextPtr& context);

}  // namespace Zent::Tools::SchedulerHost

#pragma once

// Who a message is sent on behalf of, and the current one of each thread.
//
// Every message on the bus travels with a user context; every thread has a current one
// in a per-thread slot. The processing thread adopts the context of each request it
// handles, so replies carry the requester's context back.
//
//     CUserContext::SetCurrent(delivery.userContext);
//     auto context = CUserContext::EnsureCurrent();   // never null
//     EnsureSystemUser();                             // act as the built-in system user
//
// A context may be shared by several threads; reading its user takes its lock.

#include <memory>
#include <mutex>
#include <string>

#include "common/security/IUser.h"

namespace Zent::Common::Security {

class CUserContext {
public:
    // A context without a user.
    CUserContext() = default;
    explicit CUserContext(std::shared_ptr<IUser> user) : user_(std::move(user)) {}

    std::shared_ptr<IUser> GetUser() const;
    // The user's identifier, or the empty text when the context has no user.
    std::string GetUserUuid() const;

    // The calling thread's current context; null until one is set.
    static std::shared_ptr<CUserContext> GetCurrent();
    // Replaces the calling thread's current context.
    static void SetCurrent(std::shared_ptr<CUserContext> context);
    // The calling thread's context, after setting a new one without a user when the
    // slot was empty.
    static std::shared_ptr<CUserContext> EnsureCurrent();

private:
    mutable std::mutex lock_;
    std::shared_ptr<IUser> user_;
};

// Makes the calling thread act as the system user, unless its context names it already.
void EnsureSystemUser();

}  // namespace Zent::Common::Security

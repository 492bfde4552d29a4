#pragma once

// The requesters on whose behalf scheduler-host sends its requests: users known only by
// a name, and one user context per name.
//
//     CUserDirectory users;
//     host.Send(request, users.ContextOf("alice"));
//     // a reply or tick carries that context back:
//     UserNameOf(context);   // "alice"; empty for a context without a user
//
// A named user has a UUID derived from its name (the same in every run), no access rights
// and no access-rights matrix.

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/kernel/ISubscriber.h"
#include "common/security/IUser.h"

namespace Zent::Tools::SchedulerHost {

class CNamedUser : public Common::Security::IUser {
public:
    explicit CNamedUser(std::string name);

    std::string GetName() const override { return name_; }
    std::string GetUuid() const override { return uuid_; }
    bool IsSystemUser() const override { return false; }
    // Empties `rights`: a named user has none.
    void GetAccessRights(std::vector<Common::Security::AccessRight>& rights) const override;
    // Empties every list, then throws std::runtime_error "Access rights matrix is not
    // available for user <name>" when the matrix was asked for.
    void GetAccessRightsMatrix(std::vector<Common::Security::AccessRight>& rights, bool withMatrix,
                               std::vector<std::string>& rowIds,
                               std::vector<std::string>& columnIds,
                               std::vector<Common::Security::AccessRight>& matrix) const override;
    bool IsAnonymous() const override { return false; }
    // {"name":...,"uuid":...,"accessRights":[]}
    std::string ToJson() const override;

private:
    const std::string name_;
    const std::string uuid_;
};

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

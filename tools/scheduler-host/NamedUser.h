#pragma once

// A requester on whose behalf scheduler-host sends its requests: a user known only by a
// name (CUserDirectory hands out one context per name).
//
//     auto alice = std::make_shared<CNamedUser>("alice");
//
// A named user has a UUID derived from its name (the same in every run), no access rights
// and no access-rights matrix.

#include <memory>
#include <string>
#include <vector>

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

}  // namespace Zent::Tools::SchedulerHost

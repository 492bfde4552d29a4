#pragma once

// The built-in system user: the identity of the module's own lifecycle work.
//
//     CSystemUser system;
//     system.GetUuid();    // "00000000-0000-0000-7002-000000000001"
//     system.ToJson();     // { "name" : "system-user", "uuid" : ..., "accessRights" : [ ... ] }
//
// Its 54 access rights are fixed; it has no access-rights matrix.

#include <string_view>
#include <vector>

#include "common/security/IUser.h"

namespace Zent::Common::Security {

class CSystemUser : public IUser {
public:
    // Fixed text: other programs match these; keep them exactly as they are.
    static constexpr std::string_view kName = "system-user";
    static constexpr std::string_view kUuid = "00000000-0000-0000-7002-000000000001";

    CSystemUser();

    std::string GetName() const override { return std::string(kName); }
    std::string GetUuid() const override { return std::string(kUuid); }
    bool IsSystemUser() const override { return true; }
    void GetAccessRights(std::vector<AccessRight>& rights) const override;
    // Fills `rights`, empties the other lists, then throws std::runtime_error
    // "Access rights matrix is not available for system user" when the matrix was asked for.
    void GetAccessRightsMatrix(std::vector<AccessRight>& rights, bool withMatrix,
                               std::vector<std::string>& rowIds,
                               std::vector<std::string>& columnIds,
                               std::vector<AccessRight>& matrix) const override;
    bool IsAnonymous() const override { return false; }
    // One line: name, uuid and every access right with its type (not its second id).
    std::string ToJson() const override;

private:
    std::vector<AccessRight> accessRights_;
};

}  // namespace Zent::Common::Security

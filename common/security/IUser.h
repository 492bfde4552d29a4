#pragma once

// A user of the agent, as the user context of a message names it.
//
//     std::vector<AccessRight> rights;
//     user->GetAccessRights(rights);
//     std::string json = user->ToJson();

#include <cstdint>
#include <string>
#include <vector>

namespace Zent::Common::Security {

struct AccessRight {
    std::string rightId;
    std::int32_t accessType = 0;
    std::string secondId;

    bool operator==(const AccessRight&) const = default;
};

class IUser {
public:
    virtual ~IUser() = default;

    virtual std::string GetName() const = 0;
    virtual std::string GetUuid() const = 0;
    virtual bool IsSystemUser() const = 0;
    // Replaces `rights` with a copy of the user's access rights.
    virtual void GetAccessRights(std::vector<AccessRight>& rights) const = 0;
    // Fills `rights` like GetAccessRights and the other lists with the user's access
    // matrix; throws std::runtime_error when the user has no matrix and one was asked for.
    virtual void GetAccessRightsMatrix(std::vector<AccessRight>& rights, bool withMatrix,
                                       std::vector<std::string>& rowIds,
                                       std::vector<std::string>& columnIds,
                                       std::vector<AccessRight>& matrix) const = 0;
    virtual bool IsAnonymous() const = 0;
    // The user as one line of JSON text.
    virtual std::string ToJson() const = 0;
};

}  // namespace Zent::Common::Security

#pragma once

// A plain, non-system user known by its name; its UUID is "uuid-" followed by the name.
//
//     auto context = std::make_shared<CUserContext>(std::make_shared<CNamedUser>("alice"));

#include <string>
#include <vector>

#include "common/security/IUser.h"

namespace Zent::Testing {

class CNamedUser : public Common::Security::IUser {
public:
    explicit CNamedUser(std::string name) : name_(std::move(name)) {}
    std::string GetName() const override { return name_; }
    std::string GetUuid() const override { return "uuid-" + name_; }
    bool IsSystemUser() const override { return false; }
    void GetAccessRights(std::vector<Common::Security::AccessRight>& rights) const override {
        rights.clear();
    }
    void GetAccessRightsMatrix(std::vector<Common::Security::AccessRight>& rights, bool,
                               std::vector<std::string>&, std::vector<std::string>&,
                               std::vector<Common::Security::AccessRight>&) const override {
        rights.clear();
    }
    bool IsAnonymous() const override { return false; }
    std::string ToJson() const override { return "{\"name\":\"" + name_ + "\"}"; }

private:
    std::string name_;
};

}  // namespace Zent::Testing

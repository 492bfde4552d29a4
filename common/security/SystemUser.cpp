#include "common/security/SystemUser.h"

#include <stdexcept>

namespace Zent::Common::Security {

namespace {
// Every right is granted with access types 0, 1 and 2, in this order.
constexpr std::string_view kRightIds[] = {
    "00000000-0000-0000-7004-000000000001", "00000000-0000-0000-7004-000000000002",
    "00000000-0000-0000-7004-000000000003", "00000000-0000-0000-7004-000000000008",
    "00000000-0000-0000-7004-000000000009", "00000000-0000-0000-7004-000000000010",
    "00000000-0000-0000-7004-000000000011", "00000000-0000-0000-7004-000000000012",
    "00000000-0000-0000-7004-000000000020", "00000000-0000-0000-7004-000000000014",
    "00000000-0000-0000-7004-000000000036", "00000000-0000-0000-7004-000000000017",
    "00000000-0000-0000-7004-000000000037", "00000000-0000-0000-7004-000000000018",
    "00000000-0000-0000-7004-000000000038", "00000000-0000-0000-7004-000000000019",
    "00000000-0000-0000-7004-000000000034", "00000000-0000-0000-7004-000000000031",
};
constexpr std::string_view kGrantedBy = "00000000-0000-0000-7001-000000000001";
}  // namespace

CSystemUser::CSystemUser() {
    accessRights_.reserve(std::size(kRightIds) * 3);
    for (std::string_view id : kRightIds) {
        for (std::int32_t type = 0; type < 3; ++type) {
            accessRights_.push_back({std::string(id), type, std::string(kGrantedBy)});
        }
    }
}

void CSystemUser::GetAccessRights(std::vector<AccessRight>& rights) const {
    rights = accessRights_;
}

void CSystemUser::GetAccessRightsMatrix(std::vector<AccessRight>& rights, bool withMatrix,
                                        std::vector<std::string>& rowIds,
                                        std::vector<std::string>& columnIds,
                                        std::vector<AccessRight>& matrix) const {
    GetAccessRights(rights);
    rowIds.clear();
    columnIds.clear();
    matrix.clear();
    if (withMatrix) {
        // Fixed text: other programs match it; keep it exactly as it is.
        throw std::runtime_error("Access rights matrix is not available for system user");
    }
}

std::string CSystemUser::ToJson() const {
    // Fixed text: other programs parse this JSON form; keep it exactly as it is.
    std::string json = "{ \"name\" : \"" + GetName() + "\", \"uuid\" : \"" + GetUuid() +
                       "\", \"accessRights\" : [ ";
    for (std::size_t i = 0; i < accessRights_.size(); ++i) {
        if (i != 0) json += ", ";
        json += "{ \"uuid\" : \"" + accessRights_[i].rightId +
                "\", \"accessType\" : " + std::to_string(accessRights_[i].accessType) + " }";
    }
    json += " ] }";
    return json;
}

}  // namespace Zent::Common::Security

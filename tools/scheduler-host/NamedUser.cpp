#include "tools/scheduler-host/NamedUser.h"

#include <stdexcept>

#include <boost/uuid/name_generator_sha1.hpp>
#include <boost/uuid/uuid_io.hpp>

#include "tools/scheduler-host/JsonText.h"

namespace Zent::Tools::SchedulerHost {

// Fixed text: the JSON field names, kinds, control names and error texts in this file are
// the serve protocol (docs/host-protocol.md) that clients match; keep them exactly as they
// are.

namespace {

std::string UuidOf(const std::string& name) {
    boost::uuids::name_generator_sha1 generate(boost::uuids::ns::url());
    return boost::uuids::to_string(generate("zent-user:" + name));
}

}  // namespace

CNamedUser::CNamedUser(std::string name) : name_(std::move(name)), uuid_(UuidOf(name_)) {}

void CNamedUser::GetAccessRights(std::vector<Common::Security::AccessRight>& rights) const {
    rights.clear();
}

void CNamedUser::GetAccessRightsMatrix(std::vector<Common::Security::AccessRight>& rights,
                                       bool withMatrix, std::vector<std::string>& rowIds,
                                       std::vector<std::string>& columnIds,
                                       std::vector<Common::Security::AccessRight>& matrix) const {
    rights.clear();
    rowIds.clear();
    columnIds.clear();
    matrix.clear();
    if (withMatrix)
        throw std::runtime_error("Access rights matrix is not available for user " + name_);
}

std::string CNamedUser::ToJson() const {
    return CJsonObjectWriter()
        .AddString("name", name_)
        .AddString("uuid", uuid_)
        .AddRaw("accessRights", "[]")
        .Text();
}

}  // namespace Zent::Tools::SchedulerHost

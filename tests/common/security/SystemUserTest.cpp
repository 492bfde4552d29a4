// The built-in system user, as other modules see it.

#include <gtest/gtest.h>

#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>
#include <sstream>

#include "common/security/SystemUser.h"

namespace {

using namespace Zent::Common::Security;

TEST(SystemUser, WritesOneLineOfJsonWithEveryRightAndRefusesTheMatrix) {
    const CSystemUser user;
    const std::string json = user.ToJson();
    EXPECT_EQ(json.find('\n'), std::string::npos);
    EXPECT_EQ(json.find("secondId"), std::string::npos);
    boost::property_tree::ptree parsed;
    std::istringstream in(json);
    ASSERT_NO_THROW(boost::property_tree::read_json(in, parsed)) << json;
    std::string expected = user.GetName() + " " + user.GetUuid();
    std::string written = parsed.get<std::string>("name") + " " + parsed.get<std::string>("uuid");
    std::vector<AccessRight> rights, matrix{{"x", 1, "y"}};
    user.GetAccessRights(rights);
    for (const AccessRight& right : rights)
        expected += " " + right.rightId + "/" + std::to_string(right.accessType);
    for (const auto& [unused, item] : parsed.get_child("accessRights"))
        written += " " + item.get<std::string>("uuid") + "/" + item.get<std::string>("accessType");
    EXPECT_EQ(written, expected);

    std::vector<std::string> rows{"r"}, columns{"c"};
    rights.clear();
    EXPECT_THROW(user.GetAccessRightsMatrix(rights, true, rows, columns, matrix),
                 std::runtime_error);
    EXPECT_EQ(rights.size(), 54u);
    EXPECT_TRUE(rows.empty() && columns.empty() && matrix.empty());
}

}  // namespace

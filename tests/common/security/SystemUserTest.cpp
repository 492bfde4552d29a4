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
    EXPECT_EQ(parsed.get<std::string>("name") + " " + parsed.get<std::string>("uuid"),
              user.GetName() + " " + user.GetUuid());
    std::vector<AccessRight> rights, matrix{{"x", 1, "y"}};
    user.GetAccessRights(rights);
    std::string expected, written;
    for (const AccessRight& right : rights)
        expected += right.rightId + "/" + std::to_string(right.accessType) + " ";
    for (const auto& [unused, item] : parsed.get_child("accessRights"))
        written += item.get<std::string>("uuid") + "/" + item.get<std::string>("accessType") + " ";
    EXPECT_EQ(written, expected);

    std::vector<std::string> rows{"r"}, columns{"c"};
    rights.clear();
    try {
        user.GetAccessRightsMatrix(rights, true, rows, columns, matrix);
        ADD_FAILURE() << "the matrix was not refused";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Access rights matrix is not available for system user");
    }
    EXPECT_EQ(rights.size(), 54u);
    EXPECT_TRUE(rows.empty() && columns.empty() && matrix.empty());
}

}  // namespace

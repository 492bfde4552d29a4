// The built-in system user and the per-thread user context.

#include <gtest/gtest.h>

#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>
#include <sstream>

#include <thread>

#include "common/security/SystemUser.h"
#include "common/security/UserContext.h"

namespace {

using namespace Zent::Common::Security;

TEST(SystemUser, HasItsIdentityAndFiftyFourRights) {
    CSystemUser user;
    EXPECT_EQ(user.GetName(), "system-user");
    EXPECT_EQ(user.GetUuid(), "00000000-0000-0000-7002-000000000001");
    std::vector<AccessRight> rights{{"stale", 9, ""}};
    user.GetAccessRights(rights);
    ASSERT_EQ(rights.size(), 54u);
    for (std::size_t i = 0; i < rights.size(); ++i) {
        EXPECT_EQ(rights[i].accessType, static_cast<int>(i % 3));
        EXPECT_EQ(rights[i].rightId, rights[i - i % 3].rightId);
        EXPECT_EQ(rights[i].secondId, "00000000-0000-0000-7001-000000000001");
    }
    EXPECT_EQ(rights.front().rightId, "00000000-0000-0000-7004-000000000001");
    EXPECT_EQ(rights[8 * 3].rightId, "00000000-0000-0000-7004-000000000020");
    EXPECT_EQ(rights.back().rightId, "00000000-0000-0000-7004-000000000031");
}

TEST(SystemUser, RefusesTheMatrixAfterFillingTheLists) {
    CSystemUser user;
    std::vector<AccessRight> rights, matrix{{"x", 1, "y"}};
    std::vector<std::string> rows{"r"}, columns{"c"};
    EXPECT_NO_THROW(user.GetAccessRightsMatrix(rights, false, rows, columns, matrix));
    rows = {"r"};
    try {
        user.GetAccessRightsMatrix(rights, true, rows, columns, matrix);
        FAIL() << "the matrix was not refused";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Access rights matrix is not available for system user");
    }
    EXPECT_EQ(rights.size(), 54u);
    EXPECT_TRUE(rows.empty() && columns.empty() && matrix.empty());
}

TEST(SystemUser, JsonIsOneLineOfValidJson) {
    const std::string json = CSystemUser().ToJson();
    EXPECT_EQ(json.find('\n'), std::string::npos);
    EXPECT_EQ(json.substr(json.size() - 4), " ] }");
    boost::property_tree::ptree parsed;
    std::istringstream in(json);
    ASSERT_NO_THROW(boost::property_tree::read_json(in, parsed)) << json;
    EXPECT_EQ(parsed.get<std::string>("name"), "system-user");
    const auto& rights = parsed.get_child("accessRights");
    ASSERT_EQ(rights.size(), 54u);
    int type = 0;
    for (const auto& [unused, right] : rights) {
        if (type == 3) break;
        EXPECT_EQ(right.get<std::string>("uuid"), "00000000-0000-0000-7004-000000000001");
        EXPECT_EQ(right.get<std::string>("accessType"), std::to_string(type++));
        EXPECT_EQ(right.count("secondId"), 0u);
    }
}

TEST(UserContext, EachThreadHasItsOwnSlot) {
    auto mine = std::make_shared<CUserContext>();
    CUserContext::SetCurrent(mine);
    std::shared_ptr<CUserContext> seenThere;
    std::thread([&] { seenThere = CUserContext::GetCurrent(); }).join();
    EXPECT_EQ(seenThere, nullptr);
    EXPECT_EQ(CUserContext::EnsureCurrent(), mine);
}

TEST(UserContext, EnsureSystemUserKeepsASystemContextAndReplacesOthers) {
    CUserContext::SetCurrent(nullptr);
    EnsureSystemUser();
    const auto system = CUserContext::GetCurrent();
    ASSERT_NE(system, nullptr);
    EXPECT_EQ(system->GetUserUuid(), CSystemUser::kUuid);
    EnsureSystemUser();
    EXPECT_EQ(CUserContext::GetCurrent(), system);

    auto anonymous = std::make_shared<CUserContext>();
    CUserContext::SetCurrent(anonymous);
    EXPECT_EQ(anonymous->GetUserUuid(), "");
    EnsureSystemUser();
    EXPECT_NE(CUserContext::GetCurrent(), anonymous);
    EXPECT_EQ(CUserContext::GetCurrent()->GetUserUuid(), CSystemUser::kUuid);
}

}  // namespace

// The built-in system user and the per-thread user context.

#include <gtest/gtest.h>

#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>
#include <sstream>
#include <thread>

#include "common/security/SystemUser.h"
#include "common/security/UserContext.h"
#include "tests/support/NamedUser.h"

namespace {

using namespace Zent::Common::Security;

TEST(SystemUser, RefusesTheMatrixAfterFillingTheLists) {
    CSystemUser user;
    std::vector<AccessRight> rights{{"stale", 9, ""}}, matrix{{"x", 1, "y"}};
    std::vector<std::string> rows{"r"}, columns{"c"};
    try {
        user.GetAccessRightsMatrix(rights, true, rows, columns, matrix);
        FAIL() << "the matrix was not refused";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Access rights matrix is not available for system user");
    }
    EXPECT_EQ(rights.size(), 54u);
    EXPECT_TRUE(rows.empty() && columns.empty() && matrix.empty());
}

TEST(SystemUser, JsonIsOneLineOfValidJsonWithEveryRightButItsSecondId) {
    const CSystemUser user;
    const std::string json = user.ToJson();
    EXPECT_EQ(json.find('\n'), std::string::npos);
    boost::property_tree::ptree parsed;
    std::istringstream in(json);
    ASSERT_NO_THROW(boost::property_tree::read_json(in, parsed)) << json;
    EXPECT_EQ(parsed.get<std::string>("name"), CSystemUser::kName);
    EXPECT_EQ(parsed.get<std::string>("uuid"), CSystemUser::kUuid);
    std::vector<AccessRight> rights;
    user.GetAccessRights(rights);
    const auto& written = parsed.get_child("accessRights");
    ASSERT_EQ(written.size(), rights.size());
    auto right = rights.begin();
    for (const auto& [unused, item] : written) {
        EXPECT_EQ(item.get<std::string>("uuid"), right->rightId);
        EXPECT_EQ(item.get<int>("accessType"), right->accessType);
        EXPECT_EQ(item.count("secondId"), 0u);
        ++right;
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

    auto alice =
        std::make_shared<CUserContext>(std::make_shared<Zent::Testing::CNamedUser>("alice"));
    CUserContext::SetCurrent(alice);
    EnsureSystemUser();
    EXPECT_EQ(CUserContext::GetCurrent()->GetUserUuid(), CSystemUser::kUuid);
}

}  // namespace

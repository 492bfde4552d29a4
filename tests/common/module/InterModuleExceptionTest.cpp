// The error reply and the exceptions it carries across module borders: what the receiving
// module catches when it rethrows the holder, and who owns the holder.

#include <functional>
#include <memory>
#include <string>
#include <typeindex>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "common/message/scheduler/SchedulerExceptions.h"
#include "common/module/ResponseException.h"
#include "tests/support/RethrowAs.h"
#include "tests/support/TextMessage.h"

namespace Zent::Common::Module {
namespace {

using Scheduler::CFormatException;
using Scheduler::CNoEventException;
using Scheduler::CTimeInPastException;
using Testing::RethrowAs;

template <class T>
std::unique_ptr<CExceptionHolder> HolderOf(T exception) {
    return std::make_unique<CExceptionHolderImpl<T>>(std::move(exception));
}

TEST(ErrorReplyTest, ReceiverRethrowsTheCarriedClassWithCodeGroupAndTextAgainAndAgain) {
    struct Case {
        std::function<std::unique_ptr<CExceptionHolder>()> makeHolder;
        std::type_index thrownClass;
        std::uint32_t code;  // 0: not a CLocalizedException
        std::uint32_t group;
        std::string text;
    };
    const std::vector<Case> cases = {
        {[] { return HolderOf(CNoEventException("User data not found.")); },
         typeid(CNoEventException), 5, 5, "User data not found."},
        {[] { return HolderOf(CFormatException("Invalid crontab string")); },
         typeid(CFormatException), 6, 5, "Invalid crontab string"},
        {[] { return HolderOf(CTimeInPastException("all in the past")); },
         typeid(CTimeInPastException), 7, 5, "all in the past"},
        {[] { return CLocalizedException("quota", 42, 9).CreateHolder(); },
         typeid(CLocalizedException), 42, 9, "quota"},
        // Scheduler classes do not override CreateHolder: they travel as CLocalizedException.
        {[] { return CNoEventException("never").CreateHolder(); }, typeid(CLocalizedException), 5,
         5, "never"},
        {[] { return CInterModuleExceptionDefault("no translator").CreateHolder(); },
         typeid(CInterModuleExceptionDefault), 0, 0, "no translator"},
        {[] { return HolderOf(CInterModuleExceptionDefault("no translator")); },
         typeid(CInterModuleExceptionDefault), 0, 0, "no translator"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.thrownClass.name());
        auto reply = std::make_shared<CResponseException>(17);
        reply->SetHolder(c.makeHolder());
        const std::shared_ptr<Kernel::IMessage> received = reply;
        ASSERT_EQ(received->GetType(), CResponseException::kType);
        const auto& error = dynamic_cast<const CResponseException&>(*received);
        EXPECT_EQ(error.GetRequestId(), 17u);
        ASSERT_NE(error.GetHolder(), nullptr);
        EXPECT_EQ(error.GetHolder()->What(), c.text);
        for (int time = 0; time < 2; ++time) {
            try {
                error.GetHolder()->Rethrow();
            } catch (const std::exception& e) {
                EXPECT_EQ(std::type_index(typeid(e)), c.thrownClass);
                EXPECT_EQ(e.what(), c.text);
                const auto* localized = dynamic_cast<const CLocalizedException*>(&e);
                EXPECT_EQ(localized ? localized->GetCode() : 0u, c.code);
                EXPECT_EQ(localized ? localized->GetGroup() : 0u, c.group);
            }
            EXPECT_EQ(RethrowAs<CInterModuleException>(*error.GetHolder()), c.text);
        }
    }
}

// An exception that keeps `token` alive for as long as it or a copy of it exists.
class CTrackedException : public CInterModuleExceptionImpl<CTrackedException> {
public:
    explicit CTrackedException(std::shared_ptr<int> token)
        : CInterModuleExceptionImpl("tracked"), token_(std::move(token)) {}

private:
    std::shared_ptr<int> token_;
};

TEST(ErrorReplyTest, ReplacingTheHolderLeavesExactlyOneAlive) {
    auto first = std::make_shared<int>(1);
    auto second = std::make_shared<int>(2);
    const std::weak_ptr<int> firstAlive = first;
    const std::weak_ptr<int> secondAlive = second;

    auto reply = std::make_shared<CResponseException>(3);
    reply->SetHolder(CTrackedException(std::exchange(first, nullptr)).CreateHolder());
    EXPECT_FALSE(firstAlive.expired());
    reply->SetHolder(CTrackedException(std::exchange(second, nullptr)).CreateHolder());
    EXPECT_TRUE(firstAlive.expired());
    EXPECT_FALSE(secondAlive.expired());
    reply.reset();
    EXPECT_TRUE(secondAlive.expired());
}

TEST(ErrorReplyTest, EqualOnlyWhenHoldingTheVerySameHolder) {
    auto withHolder = std::make_shared<CResponseException>(1);
    withHolder->SetHolder(HolderOf(CNoEventException("User data not found.")));
    auto sameText = std::make_shared<CResponseException>(1);
    sameText->SetHolder(HolderOf(CNoEventException("User data not found.")));
    const auto empty = std::make_shared<CResponseException>(1);

    EXPECT_TRUE(withHolder->IsEqual(withHolder));
    EXPECT_FALSE(withHolder->IsEqual(sameText));
    EXPECT_FALSE(withHolder->IsEqual(empty));
    EXPECT_FALSE(empty->IsEqual(withHolder));
    EXPECT_TRUE(empty->IsEqual(std::make_shared<CResponseException>(2)));
    EXPECT_FALSE(empty->IsEqual(nullptr));
    EXPECT_FALSE(empty->IsEqual(
        std::make_shared<Testing::CTextMessage>("", std::nullopt, CResponseException::kType)));
}

}  // namespace
}  // namespace Zent::Common::Module

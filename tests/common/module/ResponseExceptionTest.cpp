// The error reply: its identity on the bus, the exception it carries to the requester, and
// ownership of that exception.

#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>

#include <gtest/gtest.h>

#include "common/message/WriteControl.h"
#include "common/message/scheduler/SchedulerExceptions.h"
#include "common/module/InterModuleException.h"
#include "common/module/ResponseException.h"

namespace Zent::Common::Module {
namespace {

// An error reply has no read-only switch.
static_assert(!std::is_base_of_v<Message::CWriteControl, CResponseException>);

// An exception that keeps `token` alive for as long as it or a copy of it exists.
class CTrackedException : public CInterModuleExceptionImpl<CTrackedException> {
public:
    explicit CTrackedException(std::shared_ptr<int> token)
        : CInterModuleExceptionImpl("tracked"), token_(std::move(token)) {}

private:
    std::shared_ptr<int> token_;
};

// Another class that uses type number 1.
class CTypeOneMessage : public Kernel::IMessage {
public:
    std::int32_t GetType() const override { return 1; }
    std::string GetTypeName() const override { return "TypeOne"; }
    bool IsEqual(const std::shared_ptr<Kernel::IMessage>&) const override { return true; }
};

std::unique_ptr<CExceptionHolder> NoEvent(const std::string& text) {
    return std::make_unique<CExceptionHolderImpl<Scheduler::CNoEventException>>(
        Scheduler::CNoEventException(text));
}

TEST(ResponseExceptionTest, IsTypeOneWithTheFailedRequestsIdAndNoHolderYet) {
    const CResponseException reply(4711);
    EXPECT_EQ(reply.GetType(), 1);
    EXPECT_EQ(reply.GetTypeName(), "CResponseException");
    EXPECT_EQ(reply.GetRequestId(), 4711u);
    EXPECT_EQ(reply.GetHolder(), nullptr);
}

TEST(ResponseExceptionTest, ReceiverRethrowsTheCarriedExceptionWithItsClass) {
    auto reply = std::make_shared<CResponseException>(17);
    reply->SetHolder(std::make_unique<CExceptionHolderImpl<Scheduler::CTimeInPastException>>(
        Scheduler::CTimeInPastException("all occurrences lie in the past")));

    const std::shared_ptr<Kernel::IMessage> received = reply;
    ASSERT_EQ(received->GetType(), CResponseException::kType);
    const auto* error = dynamic_cast<const CResponseException*>(received.get());
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->GetRequestId(), 17u);
    ASSERT_NE(error->GetHolder(), nullptr);
    EXPECT_EQ(error->GetHolder()->What(), "all occurrences lie in the past");
    try {
        error->GetHolder()->Rethrow();
    } catch (const Scheduler::CTimeInPastException& e) {
        EXPECT_EQ(e.GetCode(), 7u);
        EXPECT_EQ(e.GetGroup(), 5u);
        EXPECT_STREQ(e.what(), "all occurrences lie in the past");
    } catch (...) {
        ADD_FAILURE() << "not caught as CTimeInPastException";
    }
}

TEST(ResponseExceptionTest, ReplacingTheHolderLeavesExactlyOneAlive) {
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

TEST(ResponseExceptionTest, EqualOnlyWhenHoldingTheVerySameHolder) {
    auto withHolder = std::make_shared<CResponseException>(1);
    withHolder->SetHolder(NoEvent("User data not found."));
    auto sameText = std::make_shared<CResponseException>(1);
    sameText->SetHolder(NoEvent("User data not found."));
    const auto empty = std::make_shared<CResponseException>(1);
    const auto otherEmpty = std::make_shared<CResponseException>(2);

    EXPECT_TRUE(withHolder->IsEqual(withHolder));
    EXPECT_FALSE(withHolder->IsEqual(sameText));
    EXPECT_FALSE(withHolder->IsEqual(empty));
    EXPECT_FALSE(empty->IsEqual(withHolder));
    EXPECT_TRUE(empty->IsEqual(otherEmpty));
    EXPECT_FALSE(empty->IsEqual(nullptr));
    EXPECT_FALSE(empty->IsEqual(std::make_shared<CTypeOneMessage>()));
}

}  // namespace
}  // namespace Zent::Common::Module

// The error reply and the exceptions it carries across module borders: what the receiving
// module catches when it rethrows the holder.

#include <functional>
#include <memory>
#include <string>
#include <typeindex>
#include <vector>

#include <gtest/gtest.h>

#include "common/message/scheduler/SchedulerExceptions.h"
#include "common/module/ResponseException.h"
#include "tests/support/RethrowAs.h"

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
        std::string caught;  // "<code>/<group> <what>", "-" for no CLocalizedException
    };
    const std::vector<Case> cases = {
        {[] { return HolderOf(CNoEventException("User data not found.")); },
         typeid(CNoEventException), "5/5 User data not found."},
        {[] { return HolderOf(CFormatException("Invalid crontab string")); },
         typeid(CFormatException), "6/5 Invalid crontab string"},
        {[] { return HolderOf(CTimeInPastException("all in the past")); },
         typeid(CTimeInPastException), "7/5 all in the past"},
        {[] { return CLocalizedException("quota", 42, 9).CreateHolder(); },
         typeid(CLocalizedException), "42/9 quota"},
        // Scheduler classes do not override CreateHolder: they travel as CLocalizedException.
        {[] { return CNoEventException("never").CreateHolder(); }, typeid(CLocalizedException),
         "5/5 never"},
        {[] { return CInterModuleExceptionDefault("no translator").CreateHolder(); },
         typeid(CInterModuleExceptionDefault), "- no translator"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.caught);
        auto reply = std::make_shared<CResponseException>(17);
        reply->SetHolder(c.makeHolder());
        const CExceptionHolder& holder = *reply->GetHolder();
        // Equal only to itself: two failures with the same text are still two.
        auto again = std::make_shared<CResponseException>(17);
        again->SetHolder(c.makeHolder());
        EXPECT_FALSE(reply->IsEqual(again));
        for (int time = 0; time < 2; ++time) {
            try {
                holder.Rethrow();
            } catch (const std::exception& e) {
                EXPECT_EQ(std::type_index(typeid(e)), c.thrownClass);
                const auto* localized = dynamic_cast<const CLocalizedException*>(&e);
                EXPECT_EQ((localized ? std::to_string(localized->GetCode()) + "/" +
                                           std::to_string(localized->GetGroup())
                                     : "-") +
                              " " + e.what(),
                          c.caught);
            }
            EXPECT_EQ(RethrowAs<CInterModuleException>(holder), holder.What());
        }
    }
}

}  // namespace
}  // namespace Zent::Common::Module

// Exceptions that cross module borders: what the receiving module catches when it rethrows
// the holder that an error reply carried.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <typeindex>
#include <typeinfo>
#include <vector>

#include <gtest/gtest.h>

#include "common/message/scheduler/SchedulerExceptions.h"
#include "common/module/ExceptionHolder.h"
#include "common/module/InterModuleException.h"

namespace Zent::Common::Module {
namespace {

using Scheduler::CFormatException;
using Scheduler::CNoEventException;
using Scheduler::CTimeInPastException;

// The what() text of the exception that `holder` throws when it is caught as `E`; nothing
// when a handler for `E` would not catch it.
template <class E>
std::optional<std::string> TextCaughtAs(const CExceptionHolder& holder) {
    try {
        holder.Rethrow();
    } catch (const E& e) {
        return std::string(e.what());
    } catch (...) {
    }
    return std::nullopt;
}

template <class T>
std::unique_ptr<CExceptionHolder> HolderOf(T exception) {
    return std::make_unique<CExceptionHolderImpl<T>>(std::move(exception));
}

TEST(InterModuleExceptionTest, LocalizedHoldersRethrowTheirClassWithCodeGroupAndText) {
    struct Case {
        const char* name;
        std::function<std::unique_ptr<CExceptionHolder>()> makeHolder;
        std::type_index thrownClass;
        std::uint32_t code;
        std::uint32_t group;
        std::string text;
    };
    const std::vector<Case> cases = {
        {"no event", [] { return HolderOf(CNoEventException("User data not found.")); },
         typeid(CNoEventException), 5, 5, "User data not found."},
        {"format", [] { return HolderOf(CFormatException("Invalid crontab string")); },
         typeid(CFormatException), 6, 5, "Invalid crontab string"},
        {"time in past", [] { return HolderOf(CTimeInPastException("all in the past")); },
         typeid(CTimeInPastException), 7, 5, "all in the past"},
        {"localized, own numbers",
         [] { return CLocalizedException("quota", 42, 9).CreateHolder(); },
         typeid(CLocalizedException), 42, 9, "quota"},
        // Scheduler classes do not override CreateHolder: they travel as CLocalizedException.
        {"no event through CreateHolder", [] { return CNoEventException("never").CreateHolder(); },
         typeid(CLocalizedException), 5, 5, "never"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto holder = c.makeHolder();
        EXPECT_EQ(holder->What(), c.text);
        try {
            holder->Rethrow();
        } catch (const CLocalizedException& e) {
            EXPECT_EQ(std::type_index(typeid(e)), c.thrownClass);
            EXPECT_EQ(e.GetCode(), c.code);
            EXPECT_EQ(e.GetGroup(), c.group);
            EXPECT_EQ(std::string(e.what()), c.text);
        } catch (...) {
            ADD_FAILURE() << "not caught as CLocalizedException";
        }
        EXPECT_EQ(TextCaughtAs<CInterModuleException>(*holder), c.text);
        EXPECT_EQ(TextCaughtAs<std::runtime_error>(*holder), c.text);
    }
}

TEST(InterModuleExceptionTest, DefaultExceptionIsNeitherLocalizedNorASchedulerClass) {
    const std::vector<std::unique_ptr<CExceptionHolder>> holders = [] {
        std::vector<std::unique_ptr<CExceptionHolder>> result;
        result.push_back(HolderOf(CInterModuleExceptionDefault("Translator is not available.")));
        result.push_back(
            CInterModuleExceptionDefault("Translator is not available.").CreateHolder());
        return result;
    }();
    for (const auto& holder : holders) {
        EXPECT_EQ(holder->What(), "Translator is not available.");
        EXPECT_EQ(TextCaughtAs<CInterModuleExceptionDefault>(*holder),
                  "Translator is not available.");
        EXPECT_EQ(TextCaughtAs<CInterModuleException>(*holder), "Translator is not available.");
        EXPECT_EQ(TextCaughtAs<std::exception>(*holder), "Translator is not available.");
        EXPECT_EQ(TextCaughtAs<CLocalizedException>(*holder), std::nullopt);
        EXPECT_EQ(TextCaughtAs<CNoEventException>(*holder), std::nullopt);
        EXPECT_EQ(TextCaughtAs<CFormatException>(*holder), std::nullopt);
        EXPECT_EQ(TextCaughtAs<CTimeInPastException>(*holder), std::nullopt);
    }
}

TEST(InterModuleExceptionTest, AHolderCanBeRethrownAgainAndAgain) {
    const auto holder = HolderOf(CFormatException("Invalid crontab string"));
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(TextCaughtAs<CFormatException>(*holder), "Invalid crontab string");
    }
    EXPECT_EQ(holder->What(), "Invalid crontab string");
}

}  // namespace
}  // namespace Zent::Common::Module

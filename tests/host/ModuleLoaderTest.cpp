#include "host/ModuleLoader.h"

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "host/ResourceProvider.h"
#include "tests/support/RecordingLogger.h"

namespace Zent::HostTests {
namespace {

using Host::CModuleLoader;
using testing::HasSubstr;

const std::string kModuleLibrary = HOST_TEST_MODULE_LIBRARY;
const std::string kRecordingModule = "Zent::HostTests::CRecordingModule";

TEST(ModuleLoaderTest, TheLibraryStaysLoadedWhileAnyOfItsModulesLivesAndNoLonger) {
    CModuleLoader loader;
    auto first = loader.Load(kModuleLibrary, kRecordingModule);
    auto second = loader.Load(kModuleLibrary, kRecordingModule);
    ASSERT_NE(first, nullptr);
    EXPECT_NE(first, second);
    first.reset();
    EXPECT_TRUE(loader.IsLoaded(kModuleLibrary));
    second.reset();
    EXPECT_FALSE(loader.IsLoaded(kModuleLibrary));

    // Also when the loader went first: the module is served by its library to the end.
    auto module = std::make_unique<CModuleLoader>()->Load(kModuleLibrary, kRecordingModule);
    const auto logger = std::make_shared<Testing::CRecordingLogger>();
    auto provider = std::make_shared<Host::CResourceProvider>();
    provider->Set(Common::Kernel::ResourceNumber::Logger, logger);
    module->Initialize(provider);
    EXPECT_EQ(module->GetName(), "RecordingModule");
    module.reset();
    EXPECT_EQ(logger->Containing("").size(), 2u);
    EXPECT_EQ(logger->Lines().back().text, "destroyed");
}

TEST(ModuleLoaderTest, AFailedLoadSaysWhyAndLeavesNothingLoaded) {
    struct Case {
        std::string path;
        std::string className;
        std::string error;  // what the error text starts with
        std::string detail;
    };
    const Case cases[] = {
        {"/nonexistent/libNothing.so", kRecordingModule,
         "Cannot load module library /nonexistent/libNothing.so: ", ""},
        {HOST_TEST_PLAIN_LIBRARY, kRecordingModule,
         "Cannot load module library " HOST_TEST_PLAIN_LIBRARY ": ", "No manifest"},
        {kModuleLibrary, "Zent::Scheduler::CSchedulerModule",
         "Module library " + kModuleLibrary + " offers no class Zent::Scheduler::CSchedulerModule",
         ""},
        {kModuleLibrary, "Zent::HostTests::CSingletonModule",
         "Module library " + kModuleLibrary +
             " cannot create instances of Zent::HostTests::CSingletonModule",
         ""},
    };
    for (const Case& c : cases) {
        CModuleLoader loader;
        try {
            loader.Load(c.path, c.className);
            ADD_FAILURE() << "loaded " << c.className << " from " << c.path;
        } catch (const std::runtime_error& error) {
            EXPECT_TRUE(std::string(error.what()).starts_with(c.error)) << error.what();
            EXPECT_THAT(error.what(), HasSubstr(c.detail));
        }
        EXPECT_FALSE(loader.IsLoaded(c.path)) << c.path;
    }
}

}  // namespace
}  // namespace Zent::HostTests

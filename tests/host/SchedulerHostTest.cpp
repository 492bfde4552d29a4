// The substitute kernel: loading a module from its plug-in library, and driving it through its
// lifecycle.

#include "host/SchedulerHost.h"

#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/support/RecordingLogger.h"
#include "tests/support/TextMessage.h"

namespace Zent::HostTests {
namespace {

using Host::CModuleLoader;
using Host::CSchedulerHost;
using Texts = std::vector<std::string>;

const std::string kModuleLibrary = HOST_TEST_MODULE_LIBRARY;
const std::string kRecordingModule = "Zent::HostTests::CRecordingModule";

TEST(ModuleLoaderTest, TheLibraryStaysLoadedWhileAnyOfItsModulesLivesAndNoLonger) {
    CModuleLoader loader;
    auto first = loader.Load(kModuleLibrary, kRecordingModule);
    auto second = loader.Load(kModuleLibrary, kRecordingModule);
    EXPECT_NE(first, second);
    first.reset();
    EXPECT_TRUE(loader.IsLoaded(kModuleLibrary));
    second.reset();
    EXPECT_FALSE(loader.IsLoaded(kModuleLibrary));

    // Also when the loader went first; and the library loads again afterwards.
    auto module = std::make_unique<CModuleLoader>()->Load(kModuleLibrary, kRecordingModule);
    const auto logger = std::make_shared<Testing::CRecordingLogger>();
    auto provider = std::make_shared<Host::CResourceProvider>();
    provider->Set(Common::Kernel::ResourceNumber::Logger, logger);
    module->Initialize(provider);
    module.reset();
    EXPECT_EQ(logger->Lines().size(), 2u);
    EXPECT_EQ(logger->Lines().back().text, "destroyed");
    EXPECT_EQ(loader.Load(kModuleLibrary, kRecordingModule)->GetName(), "RecordingModule");
}

TEST(ModuleLoaderTest, AFailedLoadSaysWhyAndLeavesNothingLoaded) {
    const std::string lib = kModuleLibrary;
    const std::string cases[][3] = {
        // path, class, what the error says
        {"/nonexistent/libNothing.so", kRecordingModule,
         "Cannot load module library /nonexistent/libNothing.so: .+"},
        {HOST_TEST_PLAIN_LIBRARY, kRecordingModule,
         "Cannot load module library " HOST_TEST_PLAIN_LIBRARY ": .*No manifest.*"},
        {lib, "Zent::Scheduler::CSchedulerModule",
         "Module library " + lib + " offers no class Zent::Scheduler::CSchedulerModule"},
    };
    for (const auto& [path, className, error] : cases) {
        CModuleLoader loader;
        try {
            loader.Load(path, className);
            ADD_FAILURE() << "loaded " << className << " from " << path;
        } catch (const std::runtime_error& e) {
            EXPECT_THAT(e.what(), testing::MatchesRegex(error));
        }
        EXPECT_FALSE(loader.IsLoaded(path)) << path;
    }
}

TEST(SchedulerHostTest, DrivesTheModuleThroughItsLifecycleAndDeliversToItUntilUnloaded) {
    // The logger calls the sink one line at a time; the bus hands over at WaitUntilIdle.
    Texts lines;
    CSchedulerHost::Options options;
    options.logSink = [&lines](const Host::LogRecord& record) {
        lines.push_back(record.moduleName + ": " + record.text);
    };
    CSchedulerHost host(options);
    EXPECT_THROW(host.Start(), std::logic_error);  // no module yet
    host.Load(kModuleLibrary, kRecordingModule);
    EXPECT_THROW(host.Load(kModuleLibrary, kRecordingModule), std::logic_error);  // one only
    host.Initialize();
    host.Start();
    EXPECT_TRUE(host.Send(std::make_shared<Testing::CTextMessage>("a"), nullptr));
    ASSERT_TRUE(host.GetBus().WaitUntilIdle(std::chrono::seconds(10)));
    host.PrepareShutdown();
    EXPECT_FALSE(host.Stop(false));
    EXPECT_TRUE(host.Stop(false));
    host.Unload();
    EXPECT_TRUE(host.Send(std::make_shared<Testing::CTextMessage>("b"), nullptr));
    ASSERT_TRUE(host.GetBus().WaitUntilIdle(std::chrono::seconds(10)));
    EXPECT_EQ(host.GetBus().GetDeliveredCount(), 1u);
    EXPECT_EQ(lines, (Texts{
                         "SchedulerHost: Loading " + kRecordingModule + " from " + kModuleLibrary,
                         "SchedulerHost: Loaded module RecordingModule",
                         "SchedulerHost: Initializing RecordingModule",
                         "RecordingModule: Initialize",
                         "SchedulerHost: Initialized RecordingModule",
                         "SchedulerHost: Starting RecordingModule",
                         "RecordingModule: Start",
                         "RecordingModule: Received Text:a",
                         "SchedulerHost: Preparing the shutdown of RecordingModule",
                         "RecordingModule: PrepareShutdown",
                         "SchedulerHost: Graceful stop of RecordingModule",
                         "RecordingModule: Stop graceful",
                         "SchedulerHost: RecordingModule is busy and still running",
                         "SchedulerHost: Graceful stop of RecordingModule",
                         "RecordingModule: Stop graceful",
                         "SchedulerHost: RecordingModule has stopped",
                         "SchedulerHost: Unloading RecordingModule; deliveries dropped: 0",
                         "RecordingModule: destroyed",
                         "SchedulerHost: Unloaded RecordingModule",
                     }));
}

}  // namespace
}  // namespace Zent::HostTests

#include "host/ModuleLoader.h"

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "host/Logger.h"
#include "host/ResourceProvider.h"

namespace Zent::HostTests {
namespace {

using Host::CModuleLoader;
using testing::HasSubstr;

const std::string kModuleLibrary = HOST_TEST_MODULE_LIBRARY;
const std::string kRecordingModule = "Zent::HostTests::CRecordingModule";

std::string LoadError(CModuleLoader& loader, const std::string& path,
                      const std::string& className) {
    try {
        loader.Load(path, className);
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return "no exception";
}

// A provider with only a logger whose lines the test reads.
class ModuleLoaderTest : public testing::Test {
protected:
    void Initialize(Common::Kernel::IModule& module) {
        auto provider = std::make_shared<Host::CResourceProvider>();
        provider->Set(Common::Kernel::ResourceNumber::Logger,
                      std::make_shared<Host::CLogger>(1, [this](const Host::LogRecord& record) {
                          lines_.push_back(record.text);
                      }));
        module.Initialize(provider);
    }

    std::vector<std::string> lines_;
};

TEST_F(ModuleLoaderTest, CreatesTheClassAndDestroysItBeforeUnloading) {
    CModuleLoader loader;
    std::shared_ptr<Common::Kernel::IModule> module = loader.Load(kModuleLibrary, kRecordingModule);
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(module->GetName(), "RecordingModule");
    EXPECT_TRUE(loader.IsLoaded(kModuleLibrary));

    Initialize(*module);
    module.reset();
    EXPECT_EQ(lines_, (std::vector<std::string>{"Initialize", "destroyed"}));
    EXPECT_FALSE(loader.IsLoaded(kModuleLibrary));
}

TEST_F(ModuleLoaderTest, LibraryStaysLoadedWhileAnyOfItsModulesLives) {
    auto loader = std::make_unique<CModuleLoader>();
    auto first = loader->Load(kModuleLibrary, kRecordingModule);
    auto second = loader->Load(kModuleLibrary, kRecordingModule);
    EXPECT_NE(first, second);

    first.reset();
    EXPECT_TRUE(loader->IsLoaded(kModuleLibrary));
    loader.reset();
    Initialize(*second);
    EXPECT_EQ(second->GetName(), "RecordingModule");
    second.reset();
    EXPECT_EQ(lines_, (std::vector<std::string>{"Initialize", "destroyed"}));
}

TEST(ModuleLoaderErrorTest, MissingLibrary) {
    CModuleLoader loader;
    EXPECT_THAT(LoadError(loader, "/nonexistent/libNothing.so", kRecordingModule),
                HasSubstr("Cannot load module library /nonexistent/libNothing.so: "));
}

TEST(ModuleLoaderErrorTest, LibraryWithoutModuleManifest) {
    CModuleLoader loader;
    const std::string error = LoadError(loader, HOST_TEST_PLAIN_LIBRARY, kRecordingModule);
    EXPECT_THAT(error, HasSubstr("Cannot load module library " HOST_TEST_PLAIN_LIBRARY ": "));
    EXPECT_THAT(error, HasSubstr("No manifest"));
    EXPECT_FALSE(loader.IsLoaded(HOST_TEST_PLAIN_LIBRARY));
}

TEST(ModuleLoaderErrorTest, MissingClassLeavesTheLibraryUnloaded) {
    CModuleLoader loader;
    EXPECT_EQ(
        LoadError(loader, kModuleLibrary, "Zent::Scheduler::CSchedulerModule"),
        "Module library " + kModuleLibrary + " offers no class Zent::Scheduler::CSchedulerModule");
    EXPECT_FALSE(loader.IsLoaded(kModuleLibrary));
}

TEST(ModuleLoaderErrorTest, SingletonClassCannotBeCreated) {
    CModuleLoader loader;
    EXPECT_EQ(LoadError(loader, kModuleLibrary, "Zent::HostTests::CSingletonModule"),
              "Module library " + kModuleLibrary +
                  " cannot create instances of Zent::HostTests::CSingletonModule");
    EXPECT_FALSE(loader.IsLoaded(kModuleLibrary));
}

}  // namespace
}  // namespace Zent::HostTests

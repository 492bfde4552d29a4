#include "host/ResourceProvider.h"

#include <set>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "common/kernel/IConfigurationResource.h"
#include "common/kernel/ITranslatorResource.h"
#include "host/Configuration.h"
#include "host/IdGenerator.h"
#include "host/InProcessBus.h"
#include "host/Logger.h"

namespace Zent::HostTests {
namespace {

namespace Kernel = Common::Kernel;
namespace Number = Kernel::ResourceNumber;
using Host::CResourceProvider;

template <typename Interface>
std::shared_ptr<Interface> As(CResourceProvider& provider, int number) {
    return std::dynamic_pointer_cast<Interface>(provider.GetResource(number));
}

class ResourceProviderTest : public testing::Test {
protected:
    std::shared_ptr<Host::CInProcessBus> bus_ = std::make_shared<Host::CInProcessBus>(1);
    std::shared_ptr<Host::CLogger> logger_ = std::make_shared<Host::CLogger>();
};

TEST_F(ResourceProviderTest, DefaultGivesEachNumberItsInterface) {
    const auto provider = CResourceProvider::CreateDefault(bus_, logger_);
    EXPECT_EQ(As<Kernel::IBusResource>(*provider, Number::Bus), bus_);
    EXPECT_NE(As<Kernel::IInstallConfigurationResource>(*provider, Number::InstallConfiguration),
              nullptr);
    EXPECT_EQ(As<Kernel::ILoggerResource>(*provider, Number::Logger), logger_);
    EXPECT_NE(As<Kernel::IIdGeneratorResource>(*provider, Number::IdGenerator), nullptr);
    EXPECT_NE(As<Kernel::ITranslatorResource>(*provider, Number::Translator), nullptr);
    EXPECT_NE(As<Kernel::IConfigurationResource>(*provider, Number::Configuration), nullptr);

    std::set<int> present;
    for (int number = -1; number <= 20; ++number) {
        if (provider->HasResource(number)) present.insert(number);
        EXPECT_EQ(provider->HasResource(number), provider->GetResource(number) != nullptr);
    }
    EXPECT_EQ(present, (std::set<int>{1, 2, 3, 4, 8, 11}));
}

TEST_F(ResourceProviderTest, TranslatorCanBeLeftOut) {
    const auto provider = CResourceProvider::CreateDefault(bus_, logger_, false);
    EXPECT_FALSE(provider->HasResource(Number::Translator));
    EXPECT_EQ(provider->GetResource(Number::Translator), nullptr);
    EXPECT_TRUE(provider->HasResource(Number::Configuration));
}

TEST_F(ResourceProviderTest, InstallConfigurationAndConfigurationAreSeparate) {
    const auto provider = CResourceProvider::CreateDefault(bus_, logger_);
    const auto install = std::dynamic_pointer_cast<Host::CConfiguration>(
        As<Kernel::IInstallConfigurationResource>(*provider, Number::InstallConfiguration));
    const auto runtime = std::dynamic_pointer_cast<Host::CConfiguration>(
        As<Kernel::IConfigurationResource>(*provider, Number::Configuration));
    ASSERT_NE(install, nullptr);
    ASSERT_NE(runtime, nullptr);

    install->SetValue("key", "install");
    EXPECT_EQ(install->GetValue("key"), "install");
    EXPECT_EQ(runtime->GetValue("key"), std::nullopt);
    runtime->SetValue("key", "runtime");
    runtime->SetValue("key", "changed");
    EXPECT_EQ(runtime->GetValue("key"), "changed");
    EXPECT_EQ(install->GetValue("key"), "install");
}

TEST(IdGeneratorTest, IdsAreUniqueAcrossThreadsAndStartAtOne) {
    Host::CIdGenerator ids;
    EXPECT_EQ(ids.NextId(), 1u);
    constexpr int kThreads = 4;
    constexpr int kEach = 2000;
    std::vector<std::vector<std::uint32_t>> taken(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&ids, &mine = taken[t]] {
            for (int i = 0; i < kEach; ++i)
                mine.push_back(ids.NextId());
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    std::set<std::uint32_t> all;
    for (const auto& mine : taken)
        all.insert(mine.begin(), mine.end());
    EXPECT_EQ(all.size(), static_cast<std::size_t>(kThreads * kEach));
    EXPECT_EQ(*all.begin(), 2u);
    EXPECT_EQ(*all.rbegin(), static_cast<std::uint32_t>(kThreads * kEach + 1));
}

}  // namespace
}  // namespace Zent::HostTests

#include "host/ResourceProvider.h"

#include <set>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "common/kernel/IConfigurationResource.h"
#include "common/kernel/ITranslatorResource.h"
#include "host/Configuration.h"
#include "host/IdGenerator.h"
#include "host/SchedulerHost.h"

namespace Zent::HostTests {
namespace {

namespace Kernel = Common::Kernel;
namespace Number = Kernel::ResourceNumber;

template <typename Interface>
std::shared_ptr<Interface> As(Kernel::IResourceProvider& provider, int number) {
    return std::dynamic_pointer_cast<Interface>(provider.GetResource(number));
}

std::set<int> Present(Kernel::IResourceProvider& provider) {
    std::set<int> present;
    for (int number = -1; number <= 20; ++number) {
        if (provider.HasResource(number)) present.insert(number);
        EXPECT_EQ(provider.HasResource(number), provider.GetResource(number) != nullptr);
    }
    return present;
}

TEST(ResourceProviderTest, DefaultGivesEachNumberItsInterfaceAndTheTranslatorCanBeLeftOut) {
    const auto bus = std::make_shared<Host::CInProcessBus>(1);
    const auto logger = std::make_shared<Host::CLogger>();
    const auto provider = Host::CResourceProvider::CreateDefault(bus, logger);
    EXPECT_EQ(As<Kernel::IBusResource>(*provider, Number::Bus), bus);
    EXPECT_EQ(As<Kernel::ILoggerResource>(*provider, Number::Logger), logger);
    EXPECT_NE(As<Kernel::IIdGeneratorResource>(*provider, Number::IdGenerator), nullptr);
    EXPECT_NE(As<Kernel::ITranslatorResource>(*provider, Number::Translator), nullptr);
    const auto install = std::dynamic_pointer_cast<Host::CConfiguration>(
        As<Kernel::IInstallConfigurationResource>(*provider, Number::InstallConfiguration));
    const auto runtime = std::dynamic_pointer_cast<Host::CConfiguration>(
        As<Kernel::IConfigurationResource>(*provider, Number::Configuration));
    ASSERT_NE(install, nullptr);
    ASSERT_NE(runtime, nullptr);
    install->SetValue("key", "install");
    runtime->SetValue("key", "runtime");
    runtime->SetValue("key", "changed");
    EXPECT_EQ(install->GetValue("key"), "install");
    EXPECT_EQ(runtime->GetValue("key"), "changed");
    EXPECT_EQ(Present(*provider), (std::set<int>{1, 2, 3, 4, 8, 11}));

    Host::CSchedulerHost::Options options;
    options.withTranslator = false;
    Host::CSchedulerHost host(options);
    EXPECT_EQ(Present(host.GetResources()), (std::set<int>{1, 2, 3, 4, 11}));
}

TEST(IdGeneratorTest, IdsAreUniqueAcrossThreadsAndStartAtOne) {
    Host::CIdGenerator ids;
    EXPECT_EQ(ids.NextId(), 1u);
    constexpr int kThreads = 4;
    constexpr int kEach = 2000;
    std::vector<std::vector<std::uint32_t>> taken(kThreads);
    {
        std::vector<std::jthread> threads;
        for (auto& mine : taken) {
            threads.emplace_back([&ids, &mine] {
                for (int i = 0; i < kEach; ++i)
                    mine.push_back(ids.NextId());
            });
        }
    }
    std::set<std::uint32_t> all;
    for (const auto& mine : taken)
        all.insert(mine.begin(), mine.end());
    EXPECT_EQ(all.size(), static_cast<std::size_t>(kThreads * kEach));
    EXPECT_EQ(*all.rbegin(), static_cast<std::uint32_t>(kThreads * kEach + 1));
}

}  // namespace
}  // namespace Zent::HostTests

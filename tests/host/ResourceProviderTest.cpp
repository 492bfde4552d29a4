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

TEST(ResourceProviderTest, DefaultGivesEachNumberItsInterfaceAndTwoSeparateConfigurations) {
    const auto bus = std::make_shared<Host::CInProcessBus>(1);
    const auto logger = std::make_shared<Host::CLogger>();
    for (const bool withTranslator : {true, false}) {
        const auto provider = Host::CResourceProvider::CreateDefault(bus, logger, withTranslator);
        std::set<int> present;
        for (int number = -1; number <= 20; ++number) {
            if (provider->HasResource(number)) present.insert(number);
            EXPECT_EQ(provider->HasResource(number), provider->GetResource(number) != nullptr);
        }
        EXPECT_EQ(present, (withTranslator ? std::set<int>{1, 2, 3, 4, 8, 11}
                                           : std::set<int>{1, 2, 3, 4, 11}));
        EXPECT_EQ(provider->GetResource(Number::Bus), bus);
        EXPECT_EQ(provider->GetResource(Number::Logger), logger);
        EXPECT_TRUE(std::dynamic_pointer_cast<Kernel::IIdGeneratorResource>(
            provider->GetResource(Number::IdGenerator)));
        EXPECT_EQ(withTranslator, !!std::dynamic_pointer_cast<Kernel::ITranslatorResource>(
                                      provider->GetResource(Number::Translator)));
        const auto install = std::dynamic_pointer_cast<Host::CConfiguration>(
            provider->GetResource(Number::InstallConfiguration));
        const auto runtime = std::dynamic_pointer_cast<Host::CConfiguration>(
            provider->GetResource(Number::Configuration));
        ASSERT_TRUE(install && runtime);
        install->SetValue("key", "install");
        runtime->SetValue("key", "runtime");
        runtime->SetValue("key", "changed");
        EXPECT_EQ(install->GetValue("key"), "install");
        EXPECT_EQ(runtime->GetValue("key"), "changed");
    }
}

TEST(IdGeneratorTest, IdsAreUniqueAcrossThreadsAndStartAtOne) {
    Host::CIdGenerator ids;
    EXPECT_EQ(ids.NextId(), 1u);
    std::vector<std::vector<std::uint32_t>> taken(4);
    {
        std::vector<std::jthread> threads;
        for (auto& mine : taken) {
            threads.emplace_back([&ids, &mine] {
                for (int i = 0; i < 2000; ++i)
                    mine.push_back(ids.NextId());
            });
        }
    }
    std::set<std::uint32_t> all;
    for (const auto& mine : taken)
        all.insert(mine.begin(), mine.end());
    EXPECT_EQ(all.size(), 8000u);
    EXPECT_EQ(*all.rbegin(), 8001u);
}

}  // namespace
}  // namespace Zent::HostTests

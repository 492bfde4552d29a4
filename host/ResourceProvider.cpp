#include "host/ResourceProvider.h"

#include "host/Configuration.h"
#include "host/IdGenerator.h"
#include "host/TranslatorResource.h"

namespace Zent::Host {

namespace Kernel = Common::Kernel;

std::shared_ptr<CResourceProvider> CResourceProvider::CreateDefault(
    std::shared_ptr<Kernel::IBusResource> bus, std::shared_ptr<Kernel::ILoggerResource> logger,
    bool withTranslator) {
    auto provider = std::make_shared<CResourceProvider>();
    provider->Set(Kernel::ResourceNumber::Bus, std::move(bus));
    provider->Set(Kernel::ResourceNumber::InstallConfiguration,
                  std::static_pointer_cast<Kernel::IInstallConfigurationResource>(
                      std::make_shared<CConfiguration>()));
    provider->Set(Kernel::ResourceNumber::Logger, std::move(logger));
    provider->Set(Kernel::ResourceNumber::IdGenerator, std::make_shared<CIdGenerator>());
    if (withTranslator) {
        provider->Set(Kernel::ResourceNumber::Translator, std::make_shared<CTranslatorResource>());
    }
    provider->Set(Kernel::ResourceNumber::Configuration,
                  std::static_pointer_cast<Kernel::IConfigurationResource>(
                      std::make_shared<CConfiguration>()));
    return provider;
}

std::shared_ptr<Kernel::IResource> CResourceProvider::GetResource(int number) {
    std::lock_guard lock(lock_);
    const auto found = resources_.find(number);
    return found == resources_.end() ? nullptr : found->second;
}

bool CResourceProvider::HasResource(int number) {
    std::lock_guard lock(lock_);
    return resources_.contains(number);
}

void CResourceProvider::Set(int number, std::shared_ptr<Kernel::IResource> resource) {
    std::lock_guard lock(lock_);
    if (resource) {
        resources_[number] = std::move(resource);
    } else {
        resources_.erase(number);
    }
}

void CResourceProvider::Remove(int number) {
    std::lock_guard lock(lock_);
    resources_.erase(number);
}

}  // namespace Zent::Host

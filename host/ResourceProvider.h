#pragma once

// The resources the substitute kernel gives a module, by number.
//
//     auto resources = CResourceProvider::CreateDefault(bus, logger);   // 1, 2, 3, 4, 8, 11
//     module->Initialize(resources);
//     resources->Remove(ResourceNumber::Configuration);   // tests: a kernel without 11
//
// Thread-safe.

#include <map>
#include <memory>
#include <mutex>

#include "common/kernel/IBusResource.h"
#include "common/kernel/ILoggerResource.h"
#include "common/kernel/IResource.h"

namespace Zent::Host {

class CResourceProvider : public Common::Kernel::IResourceProvider {
public:
    // A provider with the bus (1) and logger (3) given, a CConfiguration as install
    // configuration (2), a CIdGenerator (4), a CTranslatorResource over ICU (8) unless
    // `withTranslator` is false, and a second CConfiguration as configuration (11). Both
    // configurations start empty.
    static std::shared_ptr<CResourceProvider> CreateDefault(
        std::shared_ptr<Common::Kernel::IBusResource> bus,
        std::shared_ptr<Common::Kernel::ILoggerResource> logger, bool withTranslator = true);

    std::shared_ptr<Common::Kernel::IResource> GetResource(int number) override;
    bool HasResource(int number) override;

    // Adds or replaces resource `number`; a null resource removes it.
    void Set(int number, std::shared_ptr<Common::Kernel::IResource> resource);
    void Remove(int number);

private:
    std::mutex lock_;
    std::map<int, std::shared_ptr<Common::Kernel::IResource>> resources_;
};

}  // namespace Zent::Host

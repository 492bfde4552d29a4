#pragma once

// The resources a kernel gives its modules, by number.
//
//     auto bus = std::dynamic_pointer_cast<IBusResource>(
//         provider->GetResource(ResourceNumber::Bus));
//
// Numbers: 1 bus, 2 install configuration, 3 logger, 4 id generator, 8 translator
// (optional), 11 configuration. Every resource may be used from any thread.

#include <memory>

namespace Zent::Common::Kernel {

namespace ResourceNumber {
constexpr int Bus = 1;
constexpr int InstallConfiguration = 2;
constexpr int Logger = 3;
constexpr int IdGenerator = 4;
constexpr int Translator = 8;
constexpr int Configuration = 11;
}  // namespace ResourceNumber

class IResource {
public:
    virtual ~IResource() = default;
};

class IResourceProvider {
public:
    virtual ~IResourceProvider() = default;
    // The resource with that number, or null when the kernel has none.
    virtual std::shared_ptr<IResource> GetResource(int number) = 0;
    virtual bool HasResource(int number) = 0;
};

}  // namespace Zent::Common::Kernel

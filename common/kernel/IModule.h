#pragma once

// The lifecycle of a module, as the kernel drives it.
//
//     module->Initialize(resources);   // take resources, subscribe; may throw
//     module->Start();                 // process queued and later messages
//     module->PrepareShutdown();       // stop producing work
//     while (!module->Stop(false)) {}  // graceful: false while still busy
//     module.reset();                  // destruction comes last

#include <memory>
#include <string>

namespace Zent::Common::Kernel {

class IResourceProvider;

class IModule {
public:
    virtual ~IModule() = default;

    // Takes the module's resources from `provider` and subscribes to its messages.
    // Throws std::runtime_error when a resource it needs is missing or of another type.
    virtual void Initialize(std::shared_ptr<IResourceProvider> provider) = 0;
    // Lets queued and later messages be processed.
    virtual void Start() = 0;
    // Announces the shutdown: the module stops producing new work.
    virtual void PrepareShutdown() = 0;
    // Ends message processing. Graceful (force false): returns false, and goes on
    // running, while work is in progress. Forced: always returns true; not undone later.
    virtual bool Stop(bool force) = 0;
    virtual std::string GetName() const = 0;
};

}  // namespace Zent::Common::Kernel

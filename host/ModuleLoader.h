#pragma once

// Loads a module from a plug-in library through the Poco class loader.
//
//     CModuleLoader loader;
//     std::shared_ptr<IModule> module = loader.Load("/opt/agent/libScheduler.so");
//     module->Initialize(resources);
//     ...
//     module.reset();   // destroys the module, then unloads the library
//
// Loading runs the library's pocoInitializeLibrary and pocoBuildManifest (for the IModule
// manifest) and creates one instance of the class through its meta object. The returned
// handle owns the instance: releasing the last reference destroys it through the meta
// object and then unloads the library (pocoUninitializeLibrary runs when the last module of
// that library is gone). The library stays loaded while any module made from it lives,
// also when the loader itself has been destroyed first. Unloading removes the library from
// the class loader, but its code stays mapped until the process ends: objects the module
// made, such as messages an observer kept, may outlive the module and still need their
// destructors and virtual tables. Loading the same library again runs its
// pocoInitializeLibrary again and finds its static state as it was left.
//
// Thread-safe.

#include <memory>
#include <string>

#include "common/kernel/IModule.h"

namespace Zent::Host {

class CModuleLoader {
public:
    static constexpr const char* kDefaultClassName = "Zent::Scheduler::CSchedulerModule";

    CModuleLoader();

    // A new instance of `className` from the library at `path`. Throws std::runtime_error
    // "Cannot load module library <path>: <reason>" when the library cannot be loaded or
    // offers no IModule manifest, and "Module library <path> offers no class <className>"
    // (or "... cannot create instances of <className>" for a singleton); the library is
    // not left loaded by a failed call.
    std::shared_ptr<Common::Kernel::IModule> Load(const std::string& path,
                                                  const std::string& className = kDefaultClassName);

    // True while a module made from the library at `path` lives.
    bool IsLoaded(const std::string& path) const;

private:
    struct State;
    class CDeleter;

    const std::shared_ptr<State> state_;
};

}  // namespace Zent::Host

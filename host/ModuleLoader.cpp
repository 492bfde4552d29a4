#include "host/ModuleLoader.h"

#include <dlfcn.h>

#include <mutex>
#include <stdexcept>

#include <Poco/ClassLoader.h>
#include <Poco/Exception.h>

namespace Zent::Host {

namespace Kernel = Common::Kernel;

// Shared with every module's deleter, so that the class loader outlives the modules.
struct CModuleLoader::State {
    Poco::ClassLoader<Kernel::IModule> classLoader;
    // Guards the meta objects' ownership records, which Poco does not guard itself.
    std::mutex metaLock;
};

// Destroys a module through its meta object, then gives up the library reference taken
// when the module was created.
class CModuleLoader::CDeleter {
public:
    using Meta = Poco::ClassLoader<Kernel::IModule>::Meta;

    CDeleter(std::shared_ptr<State> state, const Meta& meta, std::string path)
        : state_(std::move(state)), meta_(&meta), path_(std::move(path)) {}

    void operator()(Kernel::IModule* module) const;

private:
    std::shared_ptr<State> state_;
    const Meta* meta_;
    std::string path_;
};

CModuleLoader::CModuleLoader() : state_(std::make_shared<State>()) {}

std::shared_ptr<Kernel::IModule> CModuleLoader::Load(const std::string& path,
                                                     const std::string& className) {
    try {
        state_->classLoader.loadLibrary(path);
    } catch (const Poco::Exception& error) {
        throw std::runtime_error("Cannot load module library " + path + ": " + error.displayText());
    }
    // Keeps the code mapped after unloading: a message or another object the module made
    // may outlive the module, and its destructor and virtual table live in the library.
    if (void* handle = dlopen(path.c_str(), RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE)) {
        dlclose(handle);
    } else {
        const char* reason = dlerror();
        state_->classLoader.unloadLibrary(path);
        throw std::runtime_error(
            "Cannot load module library " + path +
            ": cannot keep it mapped: " + (reason != nullptr ? reason : "unknown reason"));
    }

    const CDeleter::Meta* meta = nullptr;
    Kernel::IModule* module = nullptr;
    try {
        // Only this library's manifest: another loaded library may offer the same class.
        const auto& manifest = state_->classLoader.manifestFor(path);
        const auto found = manifest.find(className);
        if (found == manifest.end()) {
            throw std::runtime_error("Module library " + path + " offers no class " + className);
        }
        meta = *found;
        if (!meta->canCreate()) {
            throw std::runtime_error("Module library " + path + " cannot create instances of " +
                                     className);
        }
        std::lock_guard lock(state_->metaLock);
        // The meta object creates with new; it takes ownership back at once, so that the
        // deleter can destroy the instance through it, inside the library.
        std::unique_ptr<Kernel::IModule> created(meta->create());
        meta->autoDelete(created.get());
        module = created.release();
    } catch (...) {
        state_->classLoader.unloadLibrary(path);
        throw;
    }
    // Should this throw, the deleter has destroyed the module and unloaded the library.
    return std::shared_ptr<Kernel::IModule>(module, CDeleter(state_, *meta, path));
}

bool CModuleLoader::IsLoaded(const std::string& path) const {
    return state_->classLoader.isLibraryLoaded(path);
}

void CModuleLoader::CDeleter::operator()(Kernel::IModule* module) const {
    {
        std::lock_guard lock(state_->metaLock);
        meta_->destroy(module);
    }
    state_->classLoader.unloadLibrary(path_);
}

}  // namespace Zent::Host

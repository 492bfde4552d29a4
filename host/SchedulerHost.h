#pragma once

// The substitute kernel in one object: logger, bus, resources and one loaded module,
// driven through the module's lifecycle.
//
//     CSchedulerHost host;
//     host.GetBus().AddObserver(printReply);
//     host.Load("/opt/agent/libScheduler.so");
//     host.Initialize();
//     host.Start();
//     host.Send(request, userContext);
//     host.PrepareShutdown();
//     while (!host.Stop(false)) {}
//     host.Unload();
//
// Each step logs what it does under the module name "SchedulerHost". The lifecycle steps
// need a loaded module (std::logic_error "No module is loaded" otherwise) and pass on what
// the module throws. Unload first ends every bus subscription (the module's and any other;
// observers stay) and waits for running deliveries, then destroys the module and unloads
// its library; destroying the host unloads too. The host is driven from one thread at a
// time; Send and the bus may be used from any thread.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "common/kernel/IModule.h"
#include "host/InProcessBus.h"
#include "host/Logger.h"
#include "host/ModuleLoader.h"
#include "host/ResourceProvider.h"

namespace Zent::Host {

class CSchedulerHost {
public:
    struct Options {
        std::size_t busThreads = CInProcessBus::kDefaultThreadCount;
        bool withTranslator = true;
        std::int32_t minimumLogLevel = 1;
        // Empty: lines go to stderr.
        CLogger::Sink logSink;
    };

    CSchedulerHost();
    explicit CSchedulerHost(Options options);
    ~CSchedulerHost();
    CSchedulerHost(const CSchedulerHost&) = delete;
    CSchedulerHost& operator=(const CSchedulerHost&) = delete;

    // Loads the library at `path` and creates `className` from it. Throws what
    // CModuleLoader::Load throws, and std::logic_error when a module is loaded already.
    void Load(const std::string& path,
              const std::string& className = CModuleLoader::kDefaultClassName);
    void Initialize();
    void Start();
    void PrepareShutdown();
    // What the module's Stop returned.
    bool Stop(bool force);
    // Does nothing when no module is loaded.
    void Unload();

    // Sends `message` on the bus as if another module sent it.
    bool Send(std::shared_ptr<Common::Kernel::IMessage> message,
              Common::Kernel::UserContextPtr userContext);

    CInProcessBus& GetBus() { return *bus_; }
    CResourceProvider& GetResources() { return *resources_; }
    CLogger& GetLogger() { return *logger_; }
    // Null when no module is loaded.
    Common::Kernel::IModule* GetModule() { return module_.get(); }

private:
    Common::Kernel::IModule& LoadedModule(const char* step);
    void Log(const std::string& text, std::int32_t level = 2);

    const std::shared_ptr<CLogger> logger_;
    const std::shared_ptr<CInProcessBus> bus_;
    const std::shared_ptr<CResourceProvider> resources_;
    CModuleLoader loader_;
    std::shared_ptr<Common::Kernel::IModule> module_;
    std::string moduleName_;
};

}  // namespace Zent::Host

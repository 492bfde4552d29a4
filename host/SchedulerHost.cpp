#include "host/SchedulerHost.h"

#include <stdexcept>

namespace Zent::Host {

namespace {
constexpr const char* kHostName = "SchedulerHost";
}  // namespace

CSchedulerHost::CSchedulerHost() : CSchedulerHost(Options{}) {}

CSchedulerHost::CSchedulerHost(Options options)
    : logger_(std::make_shared<CLogger>(options.minimumLogLevel, std::move(options.logSink))),
      bus_(std::make_shared<CInProcessBus>(options.busThreads, logger_)),
      resources_(CResourceProvider::CreateDefault(bus_, logger_, options.withTranslator)) {}

CSchedulerHost::~CSchedulerHost() {
    Unload();
    bus_->Stop();
}

void CSchedulerHost::Load(const std::string& path, const std::string& className) {
    if (module_) throw std::logic_error("A module is loaded already: " + moduleName_);
    Log("Loading " + className + " from " + path);
    module_ = loader_.Load(path, className);
    moduleName_ = module_->GetName();
    Log("Loaded module " + moduleName_);
}

void CSchedulerHost::Initialize() {
    Common::Kernel::IModule& module = LoadedModule("Initialize");
    Log("Initializing " + moduleName_);
    module.Initialize(resources_);
    Log("Initialized " + moduleName_);
}

void CSchedulerHost::Start() {
    Common::Kernel::IModule& module = LoadedModule("Start");
    Log("Starting " + moduleName_);
    module.Start();
}

void CSchedulerHost::PrepareShutdown() {
    Common::Kernel::IModule& module = LoadedModule("PrepareShutdown");
    Log("Preparing the shutdown of " + moduleName_);
    module.PrepareShutdown();
}

bool CSchedulerHost::Stop(bool force) {
    Common::Kernel::IModule& module = LoadedModule("Stop");
    Log(std::string(force ? "Forced" : "Graceful") + " stop of " + moduleName_);
    const bool stopped = module.Stop(force);
    Log(moduleName_ + (stopped ? " has stopped" : " is busy and still running"));
    return stopped;
}

void CSchedulerHost::Unload() {
    if (!module_) return;
    const std::size_t dropped = bus_->UnsubscribeAll();
    Log("Unloading " + moduleName_ + "; deliveries dropped: " + std::to_string(dropped));
    module_.reset();
    Log("Unloaded " + moduleName_);
    moduleName_.clear();
}

bool CSchedulerHost::Send(std::shared_ptr<Common::Kernel::IMessage> message,
                          Common::Kernel::UserContextPtr userContext) {
    return bus_->Send(std::move(message), std::move(userContext));
}

Common::Kernel::IModule& CSchedulerHost::LoadedModule(const char* step) {
    if (!module_) throw std::logic_error(std::string("No module is loaded: cannot ") + step);
    return *module_;
}

void CSchedulerHost::Log(const std::string& text, std::int32_t level) {
    logger_->Log(text, level, kHostName);
}

}  // namespace Zent::Host

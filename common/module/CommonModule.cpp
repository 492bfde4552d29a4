#include "common/module/CommonModule.h"

#include <stdexcept>
#include <string>

#include "common/security/UserContext.h"

namespace Zent::Common::Module {

namespace {

template <typename Resource>
std::shared_ptr<Resource> Acquire(Kernel::IResourceProvider& provider, int number,
                                  const char* interfaceName) {
    auto resource = std::dynamic_pointer_cast<Resource>(provider.GetResource(number));
    if (!resource) {
        // Fixed text: other programs match it; keep it exactly as it is.
        throw std::runtime_error(std::string("Bad cast to Zent::Common::Kernel::") + interfaceName);
    }
    return resource;
}

}  // namespace

CCommonModule::~CCommonModule() {
    StopProcessingThreads();
}

void CCommonModule::Initialize(std::shared_ptr<Kernel::IResourceProvider> provider) {
    using namespace Kernel;
    bus_ = Acquire<IBusResource>(*provider, ResourceNumber::Bus, "IBusResource");
    logger_ = Acquire<ILoggerResource>(*provider, ResourceNumber::Logger, "ILoggerResource");
    idGenerator_ = Acquire<IIdGeneratorResource>(*provider, ResourceNumber::IdGenerator,
                                                 "IIdGeneratorResource");
    installConfiguration_ = Acquire<IInstallConfigurationResource>(
        *provider, ResourceNumber::InstallConfiguration, "IInstallConfigurationResource");
    configuration_ = Acquire<IConfigurationResource>(*provider, ResourceNumber::Configuration,
                                                     "IConfigurationResource");
    replyProcessor_ = std::make_shared<CReplyProcessor>(bus_, idGenerator_);
    OnInitialize(std::move(provider));
}

void CCommonModule::Start() {
    Security::EnsureSystemUser();
    ResumeAll();
    OnStarted();
}

void CCommonModule::ResumeAll() {
    for (const auto& holder : threadHolders_)
        holder->Resume();
}

bool CCommonModule::Stop(bool force) {
    Security::EnsureSystemUser();
    if (!CanStop(force)) return false;
    if (force) {
        StopProcessingThreads();
        return true;
    }
    for (const auto& holder : threadHolders_) {
        if (!holder->GetSubscriber()->RequestStop()) {
            ResumeAll();
            OnStarted();
            return false;
        }
        holder->Join();
    }
    return true;
}

void CCommonModule::StopProcessingThreads() {
    for (const auto& holder : threadHolders_)
        holder->Interrupt();
    for (const auto& holder : threadHolders_)
        holder->Join();
}

void CCommonModule::RegisterMessageProcessor(const std::vector<std::int32_t>& types,
                                             std::shared_ptr<IMessageProcessor> processor) {
    auto holder = std::make_shared<CMessageProcessorThreadHolder>(*this, std::move(processor));
    for (std::int32_t type : types)
        bus_->Subscribe(holder->GetSubscriber(), type);
    threadHolders_.push_back(std::move(holder));
}

bool CCommonModule::SendMessage(std::shared_ptr<Kernel::IMessage> message) {
    auto context = Security::CUserContext::EnsureCurrent();
    if (!bus_) return false;
    return bus_->Send(std::move(message), std::move(context));
}

bool CCommonModule::IsStopping() const {
    std::lock_guard lock(stoppingLock_);
    return stopping_;
}

CCommonModule::LogStream CCommonModule::Log(std::int32_t level) const {
    return LogStream(logger_, level, GetName());
}

CCommonModule::CMessageProcessorThreadHolder::CMessageProcessorThreadHolder(
    CCommonModule& module, std::shared_ptr<IMessageProcessor> processor)
    : module_(module),
      processor_(std::move(processor)),
      subscriber_(std::make_shared<CSubscriber>(
          module.GetName(), [this] { StartThread(); }, module.idleTimeout_)) {}

CCommonModule::CMessageProcessorThreadHolder::~CMessageProcessorThreadHolder() {
    Interrupt();
    Join();
}

void CCommonModule::CMessageProcessorThreadHolder::StartThread() {
    boost::lock_guard lock(lock_);
    Join();
    if (!enabled_) return;
    subscriber_->ConsumerStarting();
    thread_ = std::make_unique<boost::thread>([this] { ProcessingLoop(); });
}

void CCommonModule::CMessageProcessorThreadHolder::Resume() {
    boost::lock_guard lock(lock_);
    if (!thread_) subscriber_->Resume();
}

void CCommonModule::CMessageProcessorThreadHolder::Interrupt() {
    boost::lock_guard lock(lock_);
    enabled_ = false;
    if (thread_) thread_->interrupt();
}

void CCommonModule::CMessageProcessorThreadHolder::Join() {
    boost::lock_guard lock(lock_);
    if (!thread_) return;
    thread_->join();
    thread_.reset();
}

void CCommonModule::CMessageProcessorThreadHolder::ProcessingLoop() {
    try {
        for (;;) {
            try {
                boost::this_thread::interruption_point();
                CSubscriber::Delivery delivery;
                if (!subscriber_->TakeDelivery(delivery)) return;
                // A delivery that was taken is answered: no interruption while it is handled.
                boost::this_thread::disable_interruption noInterruption;
                Security::CUserContext::SetCurrent(delivery.userContext);
                processor_->Process(std::move(delivery.message));
            } catch (const boost::thread_interrupted&) {
                throw;
            } catch (const std::exception& e) {
                module_.Log(4) << e.what();
            } catch (...) {
                // Fixed text: other programs match it; keep it exactly as it is.
                module_.Log(4) << "Unknown exception while processing a message";
            }
        }
    } catch (const boost::thread_interrupted&) {
        subscriber_->ConsumerInterrupted();
        const std::size_t left = subscriber_->QueuedCount();
        if (left > 0) {
            // Fixed text: other programs match it; keep it exactly as it is.
            module_.Log(1) << "There were " << left << " messages left unprocessed in a queue";
        }
    }
}

}  // namespace Zent::Common::Module

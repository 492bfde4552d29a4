#include "Scheduler/SchedulerModule.h"

#include "Scheduler/ControlMessageProcessor.h"

namespace Zent::Scheduler {

using Common::Library::Logging::CLoggerBridge;

CSchedulerModule::CSchedulerModule()
    : loggerBridge_(std::make_shared<CLoggerBridge>(
          [this] { return Log(2); }, [this] { return Log(1); }, [this] { return Log(4); })),
      controlMessageProcessor_(std::make_shared<CControlMessageProcessor>(*this)),
      crontabParser_(std::make_shared<CCrontabParser>()) {}

CSchedulerModule::~CSchedulerModule() {
    StopProcessingThreads();
}

void CSchedulerModule::OnInitialize(std::shared_ptr<Common::Kernel::IResourceProvider> provider) {
    // A repeated Initialize keeps the one subscription of each control type.
    if (!HasProcessors()) {
        RegisterMessageProcessor(CControlMessageProcessor::Types(), controlMessageProcessor_);
    }
    if (provider->HasResource(Common::Kernel::ResourceNumber::Translator)) {
        translator_ = std::dynamic_pointer_cast<Common::Kernel::ITranslatorResource>(
            provider->GetResource(Common::Kernel::ResourceNumber::Translator));
    }
}

void CSchedulerModule::PrepareShutdown() {}

}  // namespace Zent::Scheduler

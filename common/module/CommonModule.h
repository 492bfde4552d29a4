#pragma once

// The base of every module: resources, message processors on threads of their own, and
// the lifecycle the kernel drives.
//
//     class CPingModule : public CCommonModule {
//         void OnInitialize(std::shared_ptr<IResourceProvider>) override {
//             RegisterMessageProcessor({900}, std::make_shared<CPingProcessor>(*this));
//         }
//         ...
//     };
//
// Each registered processor gets one subscriber on the bus and a processing thread that
// exists only while there is work: started by a delivery, it handles deliveries in
// arrival order under the user context that came with each, and ends after 5 seconds
// without one. Start lets queued deliveries be processed; Stop ends processing, either
// gracefully (false while busy) or by force (for good).

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include <boost/thread/recursive_mutex.hpp>
#include <boost/thread/thread.hpp>

#include "common/kernel/IBusResource.h"
#include "common/kernel/IConfigurationResource.h"
#include "common/kernel/IIdGeneratorResource.h"
#include "common/kernel/ILoggerResource.h"
#include "common/kernel/IModule.h"
#include "common/kernel/IResource.h"
#include "common/logging/LogStream.h"
#include "common/module/MessageProcessor.h"
#include "common/module/ReplyProcessor.h"
#include "common/module/Subscriber.h"

namespace Zent::Common::Module {

class CCommonModule : public Kernel::IModule {
public:
    using LogStream = Products::Common::Zent::TraceLog::CLogStream;

    CCommonModule() = default;
    // Disables, interrupts and joins every processing thread.
    ~CCommonModule() override;

    // Takes bus 1, logger 3, id generator 4, install configuration 2 and configuration 11,
    // in this order, then calls OnInitialize. A missing or mistyped resource throws
    // std::runtime_error "Bad cast to Zent::Common::Kernel::I...Resource"; the resources
    // taken before it stay.
    void Initialize(std::shared_ptr<Kernel::IResourceProvider> provider) override;
    // Acts as the system user and lets every processor's queued deliveries be processed.
    void Start() override;
    bool Stop(bool force) override;

    std::shared_ptr<Kernel::ILoggerResource> GetLogger() const { return logger_; }

    // One subscriber for `processor`, subscribed once to each type number.
    void RegisterMessageProcessor(const std::vector<std::int32_t>& types,
                                  std::shared_ptr<IMessageProcessor> processor);
    // Sends `message` with the calling thread's user context (an empty one when it has
    // none). Returns what the bus returned; false before Initialize.
    bool SendMessage(std::shared_ptr<Kernel::IMessage> message);
    bool IsStopping() const;

    // A log line of this module at `level` (1 detail .. 4 error).
    LogStream Log(std::int32_t level) const;

    // Owns the processing thread of one processor.
    class CMessageProcessorThreadHolder {
    public:
        CMessageProcessorThreadHolder(CCommonModule& module,
                                      std::shared_ptr<IMessageProcessor> processor);
        // Interrupts and joins the processing thread.
        ~CMessageProcessorThreadHolder();

        const std::shared_ptr<CSubscriber>& GetSubscriber() const { return subscriber_; }
        // Starts a processing thread unless disabled; joins one that has ended first.
        void StartThread();
        // Resumes the subscriber when no processing thread is recorded.
        void Resume();
        // Disables the holder for good and interrupts its thread.
        void Interrupt();
        // Waits for the recorded thread to end and forgets it.
        void Join();

    private:
        void ProcessingLoop();

        CCommonModule& module_;
        std::shared_ptr<IMessageProcessor> processor_;
        std::shared_ptr<CSubscriber> subscriber_;
        std::unique_ptr<boost::thread> thread_;
        boost::recursive_mutex lock_;
        bool enabled_ = true;
    };

protected:
    // The module's own initialisation, after the resources were taken.
    virtual void OnInitialize(std::shared_ptr<Kernel::IResourceProvider> provider) = 0;
    // Message processing was started or resumed.
    virtual void OnStarted() {}
    // Asked first by Stop; false keeps the module running.
    virtual bool CanStop([[maybe_unused]] bool force) { return true; }

    // Disables, interrupts and joins every processing thread: a derived module calls it
    // first in its destructor, so that no handler runs while its members go away.
    void StopProcessingThreads();

    bool HasProcessors() const { return !threadHolders_.empty(); }

    // How long a processing thread waits for work before it ends; applies to processors
    // registered afterwards (tests shorten it).
    void SetIdleTimeout(std::chrono::steady_clock::duration timeout) { idleTimeout_ = timeout; }

private:
    void ResumeAll();

    std::shared_ptr<Kernel::IBusResource> bus_;
    std::shared_ptr<Kernel::ILoggerResource> logger_;
    std::shared_ptr<Kernel::IIdGeneratorResource> idGenerator_;
    std::shared_ptr<Kernel::IInstallConfigurationResource> installConfiguration_;
    std::shared_ptr<Kernel::IConfigurationResource> configuration_;
    std::shared_ptr<CReplyProcessor> replyProcessor_;
    std::vector<std::shared_ptr<CMessageProcessorThreadHolder>> threadHolders_;
    mutable std::mutex stoppingLock_;
    bool stopping_ = false;
    std::chrono::steady_clock::duration idleTimeout_ = CSubscriber::kIdleTimeout;
};

}  // namespace Zent::Common::Module

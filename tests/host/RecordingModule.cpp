// A plug-in library for the host's tests. Its module logs every lifecycle call through the
// kernel's logger (module name "RecordingModule"), answers each text message with a text
// message of type kType + 1 with the same text and user context, and reports busy on the
// first graceful Stop.

#include <memory>
#include <string>

#include <Poco/ClassLibrary.h>

#include "common/kernel/IBusResource.h"
#include "common/kernel/ILoggerResource.h"
#include "common/kernel/IModule.h"
#include "common/kernel/IResource.h"
#include "tests/support/TextMessage.h"

namespace Zent::HostTests {

namespace Kernel = Common::Kernel;
using Testing::CTextMessage;

class CEchoSubscriber : public Kernel::ISubscriber {
public:
    explicit CEchoSubscriber(std::weak_ptr<Kernel::IBusResource> bus) : bus_(std::move(bus)) {}

    void OnMessage(std::shared_ptr<Kernel::IMessage> message,
                   Kernel::UserContextPtr userContext) override {
        const auto request = std::dynamic_pointer_cast<CTextMessage>(message);
        const auto bus = bus_.lock();
        if (!request || !bus) return;
        bus->Send(
            std::make_shared<CTextMessage>(request->Text(), std::nullopt, CTextMessage::kType + 1),
            std::move(userContext));
    }
    bool DescribeQueue(std::string& text) override {
        text.clear();
        return true;
    }

private:
    const std::weak_ptr<Kernel::IBusResource> bus_;
};

class CRecordingModule : public Kernel::IModule {
public:
    ~CRecordingModule() override { Record("destroyed"); }

    void Initialize(std::shared_ptr<Kernel::IResourceProvider> provider) override {
        logger_ = std::dynamic_pointer_cast<Kernel::ILoggerResource>(
            provider->GetResource(Kernel::ResourceNumber::Logger));
        Record("Initialize");
        const auto bus = std::dynamic_pointer_cast<Kernel::IBusResource>(
            provider->GetResource(Kernel::ResourceNumber::Bus));
        if (bus) bus->Subscribe(std::make_shared<CEchoSubscriber>(bus), CTextMessage::kType);
    }
    void Start() override { Record("Start"); }
    void PrepareShutdown() override { Record("PrepareShutdown"); }
    bool Stop(bool force) override {
        Record(force ? "Stop forced" : "Stop graceful");
        const bool stopped = force || gracefulStopAsked_;
        gracefulStopAsked_ = true;
        return stopped;
    }
    std::string GetName() const override { return "RecordingModule"; }

private:
    void Record(const std::string& text) {
        if (logger_) logger_->Log(text, 2, "RecordingModule");
    }

    std::shared_ptr<Kernel::ILoggerResource> logger_;
    bool gracefulStopAsked_ = false;
};

// Offered only as a singleton, which the kernel cannot create.
class CSingletonModule : public CRecordingModule {};

}  // namespace Zent::HostTests

POCO_BEGIN_MANIFEST(Zent::Common::Kernel::IModule)
POCO_EXPORT_CLASS(Zent::HostTests::CRecordingModule)
POCO_EXPORT_SINGLETON(Zent::HostTests::CSingletonModule)
POCO_END_MANIFEST

// A plug-in library for the host's tests. Its module logs each lifecycle call and each text
// message it receives through the kernel's logger (module name "RecordingModule"), and
// reports busy on the first graceful Stop.

#include <memory>
#include <string>
#include <utility>

#include <Poco/ClassLibrary.h>

#include "common/kernel/IBusResource.h"
#include "common/kernel/ILoggerResource.h"
#include "common/kernel/IModule.h"
#include "tests/support/TextMessage.h"

namespace Zent::HostTests {

namespace Kernel = Common::Kernel;

class CRecordingModule : public Kernel::IModule, public Kernel::ISubscriber {
public:
    ~CRecordingModule() override { Record("destroyed"); }

    void Initialize(std::shared_ptr<Kernel::IResourceProvider> provider) override {
        logger_ = std::dynamic_pointer_cast<Kernel::ILoggerResource>(
            provider->GetResource(Kernel::ResourceNumber::Logger));
        Record("Initialize");
        const auto bus = std::dynamic_pointer_cast<Kernel::IBusResource>(
            provider->GetResource(Kernel::ResourceNumber::Bus));
        // Not owned by the bus: the kernel ends every subscription before it destroys a module.
        if (bus) bus->Subscribe({std::shared_ptr<void>(), this}, Testing::CTextMessage::kType);
    }
    void Start() override { Record("Start"); }
    void PrepareShutdown() override { Record("PrepareShutdown"); }
    bool Stop(bool force) override {
        Record(force ? "Stop forced" : "Stop graceful");
        return force || !std::exchange(firstGracefulStop_, false);
    }
    std::string GetName() const override { return "RecordingModule"; }

    void OnMessage(std::shared_ptr<Kernel::IMessage> message, Kernel::UserContextPtr) override {
        Record("Received " + message->GetTypeName());
    }
    bool DescribeQueue(std::string& text) override {
        text.clear();
        return true;
    }

private:
    void Record(const std::string& text) {
        if (logger_) logger_->Log(text, 2, "RecordingModule");
    }

    std::shared_ptr<Kernel::ILoggerResource> logger_;
    bool firstGracefulStop_ = true;
};

}  // namespace Zent::HostTests

POCO_BEGIN_MANIFEST(Zent::Common::Kernel::IModule)
POCO_EXPORT_CLASS(Zent::HostTests::CRecordingModule)
POCO_END_MANIFEST

#include "Scheduler/TickHandler.h"

#include <boost/thread/exceptions.hpp>

namespace Zent::Scheduler {

void CSchedulerModule::CTickHandler::OnTick(
    std::shared_ptr<Common::Kernel::IMessage> userData,
    std::shared_ptr<Common::Security::CUserContext> userContext) {
    if (module_.IsStopping()) return;
    Common::Security::CUserContext::SetCurrent(std::move(userContext));
    const auto failed = [&](const char* reason) {
        module_.Log(4) << "Failed while trying to tick " << userData->GetTypeName()
                       << "  because :" << reason;
    };
    try {
        if (!module_.SendMessage(userData)) failed("the bus did not take the message");
    } catch (const boost::thread_interrupted&) {
        throw;
    } catch (const std::exception& e) {
        failed(e.what());
    } catch (...) {
        failed("unknown exception");
    }
}

}  // namespace Zent::Scheduler

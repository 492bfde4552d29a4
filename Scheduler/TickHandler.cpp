#include "Scheduler/TickHandler.h"

#include <string>

#include <boost/thread/exceptions.hpp>

// The log lines in this file:
// Fixed text (matched by other modules and operators): keep verbatim, typos too.

namespace Zent::Scheduler {

void CSchedulerModule::CTickHandler::OnTick(
    std::shared_ptr<Common::Kernel::IMessage> userData,
    std::shared_ptr<Common::Security::CUserContext> userContext) {
    if (module_.IsStopping()) return;
    Common::Security::CUserContext::SetCurrent(std::move(userContext));
    // The name is taken before the line starts: a GetTypeName that throws must neither
    // leave half a line behind nor escape from here.
    const auto failed = [&](const char* reason) {
        std::string name;
        try {
            name = userData->GetTypeName();
        } catch (...) {
            name = "(user data without a name)";
        }
        module_.Log(4) << "Failed while trying to tick " << name << "  because :" << reason;
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

#include "tools/scheduler-host/ErrorReply.h"

#include <exception>

#include "common/message/scheduler/SchedulerExceptions.h"
#include "common/module/InterModuleException.h"

namespace Zent::Tools::SchedulerHost {

// Fixed text: the JSON field names, kinds, control names and error texts in this file are
// the serve protocol (docs/host-protocol.md) that clients match; keep them exactly as they
// are.

namespace {

ErrorDescription Localized(std::string className, const Common::Module::CLocalizedException& e) {
    return {std::move(className), e.GetCode(), e.GetGroup(), e.what()};
}

}  // namespace

ErrorDescription DescribeError(const Common::Module::CResponseException& reply) {
    const Common::Module::CExceptionHolder* holder = reply.GetHolder();
    if (holder == nullptr) return {"none", std::nullopt, std::nullopt, ""};
    try {
        holder->Rethrow();
    } catch (const Common::Scheduler::CNoEventException& e) {
        return Localized("CNoEventException", e);
    } catch (const Common::Scheduler::CFormatException& e) {
        return Localized("CFormatException", e);
    } catch (const Common::Scheduler::CTimeInPastException& e) {
        return Localized("CTimeInPastException", e);
    } catch (const Common::Scheduler::CEventLimitException& e) {
        return Localized("CEventLimitException", e);
    } catch (const Common::Module::CLocalizedException& e) {
        return Localized("CLocalizedException", e);
    } catch (const Common::Module::CInterModuleExceptionDefault& e) {
        return {"CInterModuleExceptionDefault", std::nullopt, std::nullopt, e.what()};
    } catch (const Common::Module::CInterModuleException& e) {
        return {"CInterModuleException", std::nullopt, std::nullopt, e.what()};
    } catch (const std::exception& e) {
        return {"std::exception", std::nullopt, std::nullopt, e.what()};
    } catch (...) {
        // Not an exception class that a module sends; only its text is known.
    }
    return {"unknown", std::nullopt, std::nullopt, holder->What()};
}

}  // namespace Zent::Tools::SchedulerHost

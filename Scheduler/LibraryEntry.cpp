// The library's entry points for the kernel's class loader: the manifest that offers
// "Zent::Scheduler::CSchedulerModule", and the library initialisation.

#include <locale>

#include <Poco/ClassLibrary.h>
#include <boost/filesystem/path.hpp>
#include <boost/locale/generator.hpp>

#include "Scheduler/SchedulerModule.h"
#include "common/kernel/IModule.h"

POCO_BEGIN_MANIFEST(Zent::Common::Kernel::IModule)
POCO_EXPORT_CLASS(Zent::Scheduler::CSchedulerModule)
POCO_END_MANIFEST

void pocoInitializeLibrary() {
    // Generated once per process: path conversions follow the system's default locale.
    static const std::locale systemLocale = boost::locale::generator()("");
    boost::filesystem::path::imbue(systemLocale);
}

void pocoUninitializeLibrary() {}

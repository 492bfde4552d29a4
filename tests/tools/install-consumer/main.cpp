// Builds a request with a record and names the system user: the installed headers, the
// generated records and the shared library all work together.
#include <iostream>

#include "common/message/scheduler/GetLastTickRequest.h"
#include "common/security/SystemUser.h"

int main() {
    Zent::Common::Message::Scheduler::CGetLastTickRequest request(7);
    Zent::Common::DataDefinition::Scheduler::TimeEvent event;
    event.set_timespecification("0 0 12 * * ?");
    request.SetTimeEvent(event);
    std::cout << request.GetTypeName() << ' ' << request.GetType() << ' '
              << Zent::Common::Security::CSystemUser().GetName() << '\n';
    return 0;
}

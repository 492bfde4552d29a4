#include "CrontabFields.h"

namespace Zent::Scheduler {

// Fixed text (matched by other modules and operators): keep verbatim, typos too.

void CCrontabFieldSecond::Compile() {
    CheckRecords("Invalid range. Second: start=", "Invalid range. Second step <= 0");
}

void CCrontabFieldMinute::Compile() {
    CheckRecords("Invalid range. Hour: start=", "Invalid range. Hour step <= 0");
}

void CCrontabFieldHour::Compile() {
    CheckRecords("Invalid range. Hour: start=", "Invalid range. Hour step <= 0");
}

void CCrontabFieldMonth::Compile() {
    CheckRecords("Invalid range. Month: start=", "Invalid range. Month step <= 0");
}

void CCrontabFieldYear::AddEvery(const EverySpec& spec) {
    CCrontabFieldBase::AddEvery(spec);
    openEnded_ = true;
}

void CCrontabFieldYear::Compile() {
    CheckRecords("Invalid range. Year: start=", "Invalid range. Year step <= 0");
}

}  // namespace Zent::Scheduler

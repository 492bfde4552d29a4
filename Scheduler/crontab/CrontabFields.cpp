#include "CrontabFields.h"

namespace Zent::Scheduler {

void CCrontabFieldSecond::Compile() {
    CompilePlain("Invalid range. Second: start=", "Invalid range. Second step <= 0");
}

void CCrontabFieldMinute::Compile() {
    CompilePlain("Invalid range. Hour: start=", "Invalid range. Hour step <= 0");
}

void CCrontabFieldHour::Compile() {
    CompilePlain("Invalid range. Hour: start=", "Invalid range. Hour step <= 0");
}

void CCrontabFieldMonth::Compile() {
    CompilePlain("Invalid range. Month: start=", "Invalid range. Month step <= 0");
}

void CCrontabFieldYear::AddEvery(const EverySpec& spec) {
    CCrontabFieldBase::AddEvery(spec);
    openEnded_ = true;
}

void CCrontabFieldYear::Compile() {
    CompilePlain("Invalid range. Year: start=", "Invalid range. Year step <= 0");
}

}  // namespace Zent::Scheduler

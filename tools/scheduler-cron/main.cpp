// scheduler-cron: asks the crontab engine about a crontab text from the command line
// (next and previous matches, a plain-words reading, a calendar, the normalised text, the
// last occurrence, the next range).

#include <exception>
#include <iostream>

#include "CommandLine.h"
#include "Commands.h"
#include "Diagnosis.h"
#include "Scheduler/crontab/CrontabValidationException.h"
#include "Scheduler/timescheduler/Clock.h"

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

}  // namespace

int main(int argc, char* argv[]) {
    using namespace Zent::Tools::Cron;
    try {
        const CommandLine commandLine = ReadCommandLine(argc, argv);
        if (!commandLine.invocation) {
            std::cout << commandLine.output;
            return 0;
        }
        const Invocation& invocation = *commandLine.invocation;
        try {
            return RunCommand(invocation, Zent::Scheduler::CurrentClock()->UniversalTime(),
                              std::cout, std::cerr);
        } catch (const Zent::Scheduler::CCrontabValidationException& error) {
            // The engine's own text first: scripts read that line.
            std::cerr << error.what() << '\n';
            if (const std::optional<std::string> text = RefusedText(invocation)) {
                for (const std::string& line : Diagnose(*text, error.what())) {
                    std::cerr << line << '\n';
                }
            }
            return kExitFailure;
        }
    } catch (const UsageError& error) {
        std::cerr << "scheduler-cron: " << error.what() << " (see scheduler-cron --help)\n";
        return kExitUsage;
    } catch (const std::exception& error) {
        std::cerr << "scheduler-cron: " << error.what() << '\n';
        return kExitFailure;
    }
}

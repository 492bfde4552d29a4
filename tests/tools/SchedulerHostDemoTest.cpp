// scheduler-host as a person runs it: the demo, which must end by itself, successfully,
// having shown every kind of event, answer, error and shutdown step; and its exit statuses.

#include <algorithm>
#include <regex>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "tests/tools/ToolRun.h"

namespace Zent::ToolTests {
namespace {

TEST(SchedulerHostDemoTest, PlaysEveryStepAndEndsByItself) {
    const ToolRun demo = RunTool(SCHEDULER_HOST, "");
    ASSERT_EQ(demo.status, 0) << demo.errors;
    // Log lines are not part of the demo without --verbose.
    EXPECT_EQ(demo.errors, "");

    std::string output;
    for (const std::string& line : demo.lines)
        output += line + "\n";
    // Each expected row: time of day, who, what, event, details.
    const std::vector<std::string> rows = {
        R"(host +start +SchedulerModule loaded, initialized and started)",
        R"(alice +register +every-2s +"\*/2 \* \* \* \* \?" UTC, 3 times -> registered)",
        R"(alice +register +local-clock +.* -> registered)",
        R"(bob +sleep +nap +one tick in 3 s)",
        R"(bob +register +jittery +.*random delay.* -> registered)",
        R"(alice +remaining +every-2s +by user data -> [0-9]+ s, next tick at 20[0-9-]+ [0-9:]+)",
        R"(alice +remaining +local-clock +by time event -> [0-9]+ s, next tick at 20)",
        R"(bob +occurrences +jittery +next 3 from now -> [0-9:]+, )",
        R"(alice +time range +office-hours +.* -> 20[0-9-]+ 09:00:00 to 20[0-9-]+ 17:00:00)",
        R"(alice +last tick +noon-2030 +.* -> 2030-12-31 12:00:00)",
        R"(alice +time zone +Europe/Berlin +in "de" -> Mitteleurop)",
        R"(alice +time zone +Europe/Berlin +in "en" -> Central European)",
        R"(bob +register +broken +.* -> CFormatException \(code 6, group 5\): Invalid crontab)",
        R"(alice +validate +new-year-2020 +.* -> CTimeInPastException \(code 7, group 5\): )",
        R"(alice +tick +every-2s +3 of 3)",
        R"(alice +tick +local-clock +2 of 2)",
        R"(bob +tick +nap +1 of 1)",
        R"(bob +tick +jittery +2 of 2)",
        R"(host +ticks +all 8 expected ticks arrived)",
        R"(host +prepare +PrepareShutdown)",
        R"(alice +remaining +every-2s +.*Scheduler is not ticking. Shutdown in progress.)",
        R"(host +stop +graceful Stop accepted)",
        R"(host +unload +SchedulerModule destroyed, library unloaded)",
    };
    for (const std::string& row : rows) {
        EXPECT_TRUE(std::regex_search(output, std::regex("\n[0-9:.]{12}  " + row)))
            << "missing: " << row << "\nin:\n"
            << output;
    }
}

TEST(SchedulerHostCommandLineTest, WrongUsageAndAMissingLibraryAreOneLineAndTheirExitStatus) {
    // Arguments, exit status, what the one line of standard error says.
    const std::vector<std::tuple<std::string, int, std::string>> cases = {
        {"serve --verbose", 2, "--verbose is only for the demo"},
        {"--linger 2", 2, "--linger is only for serve"},
        {"serve demo", 2, "more than one command: 'demo'"},
        {"serve --linger=-1", 2, "bad --linger '-1'"},
        {"--frobnicate", 2, "--frobnicate"},
        {"sevre", 2, "unknown command 'sevre'"},
        {"--log-level 3 serve /nonexistent/libScheduler.so --linger 1", 1,
         "Cannot load module library /nonexistent/libScheduler.so"},
    };
    for (const auto& [arguments, status, reason] : cases) {
        const ToolRun run = RunTool(SCHEDULER_HOST " " + arguments, "");
        EXPECT_EQ(run.status, status) << arguments;
        EXPECT_TRUE(run.lines.empty()) << arguments;
        EXPECT_EQ(run.errors.rfind("scheduler-host: ", 0), 0u) << run.errors;
        EXPECT_NE(run.errors.find(reason), std::string::npos) << run.errors;
        EXPECT_EQ(std::count(run.errors.begin(), run.errors.end(), '\n'), 1) << run.errors;
    }
}

}  // namespace
}  // namespace Zent::ToolTests

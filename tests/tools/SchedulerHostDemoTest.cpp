// scheduler-host as a person runs it: the demo, which must end by itself, successfully,
// having shown every kind of event, answer, error and shutdown step; and the command line.

#include <algorithm>
#include <chrono>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "tests/tools/ToolProcess.h"

namespace Zent::ToolTests {
namespace {

using namespace std::chrono_literals;

TEST(SchedulerHostDemoTest, PlaysEveryStepAndEndsByItself) {
    CToolProcess demo(SCHEDULER_HOST, {});
    demo.CloseInput();
    const std::vector<std::string> lines = demo.ReadAllLines(25s);
    ASSERT_EQ(demo.Wait(1s), 0) << demo.ErrorText();

    std::string output;
    for (const std::string& line : lines)
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
        R"(bob +register +broken +.* -> CFormatException \(code 6, group 5\): Invalid crontab string)",
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
    // Log lines are not part of the demo without --verbose.
    EXPECT_EQ(demo.ErrorText(), "");
    EXPECT_EQ(output.find("SchedulerModule Received"), std::string::npos);
}

TEST(SchedulerHostCommandLineTest, HelpDocumentsTheCommandsTheOptionsAndTheRequests) {
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"--help"}, {"-h"}, {"serve", "--help"}}) {
        CToolProcess host(SCHEDULER_HOST, arguments);
        std::string help;
        for (const std::string& line : host.ReadAllLines(5s))
            help += line + "\n";
        EXPECT_EQ(host.Wait(1s), 0);
        for (const char* text :
             {"Usage: scheduler-host", "demo (the default)", "serve", "--verbose",
              "--linger SECONDS", "--no-start", "--library PATH", "--no-translator",
              "--log-level N", "--version", "321 RegisterTimeEvent:",
              "754 GetNextOccurrencesByUserDataRequest:", "fromTime count userData",
              "Exit status"}) {
            EXPECT_NE(help.find(text), std::string::npos) << "missing: " << text;
        }
    }
}

TEST(SchedulerHostCommandLineTest, VersionIsTheProjectVersion) {
    CToolProcess host(SCHEDULER_HOST, {"--version"});
    const std::vector<std::string> lines = host.ReadAllLines(5s);
    EXPECT_EQ(host.Wait(1s), 0);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(std::regex_match(lines[0], std::regex(R"(scheduler-host [0-9]+\.[0-9]+\.[0-9]+)")))
        << lines[0];
}

TEST(SchedulerHostCommandLineTest, WrongUsageIsOneLineNamingTheProblemAndExitsWithTwo) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"serve", "--verbose"}, "--verbose is only for the demo"},
        {{"--linger", "2"}, "--linger is only for serve"},
        {{"--no-start", "demo"}, "--no-start is only for serve"},
        {{"serve", "demo"}, "more than one command: 'demo'"},
        {{"serve", "--linger", "soon"}, "bad --linger 'soon'"},
        {{"serve", "--linger", "nan"}, "bad --linger 'nan'"},
        {{"serve", "--linger=inf"}, "bad --linger 'inf'"},
        {{"serve", "--linger=-1"}, "bad --linger '-1'"},
        {{"serve", "--linger", "86401"}, "bad --linger '86401'"},
        {{"--log-level=5"}, "bad --log-level '5'"},
        {{"--frobnicate"}, "--frobnicate"},
        {{"sevre"}, "unknown command 'sevre'"},
        {{"serve", "a.so", "b.so"}, "more than one library: 'b.so'"},
    };
    for (const auto& [arguments, reason] : cases) {
        CToolProcess host(SCHEDULER_HOST, arguments);
        host.CloseInput();
        EXPECT_TRUE(host.ReadAllLines(5s).empty());
        EXPECT_EQ(host.Wait(5s), 2) << reason;
        const std::string error = host.ErrorText();
        EXPECT_EQ(error.rfind("scheduler-host: ", 0), 0u) << error;
        EXPECT_NE(error.find(reason), std::string::npos) << error;
        EXPECT_EQ(std::count(error.begin(), error.end(), '\n'), 1) << error;
    }
}

TEST(SchedulerHostCommandLineTest, OptionsGoBeforeOrAfterTheCommand) {
    // Each reaches the loading of the library it names: the command line was accepted.
    const std::vector<std::vector<std::string>> cases = {
        {"serve", "--library", "/nonexistent/libScheduler.so"},
        {"--no-translator", "serve", "--", "/nonexistent/libScheduler.so"},
        {"--log-level", "3", "serve", "/nonexistent/libScheduler.so", "--linger", "1"},
        {"--linger=0.5", "--library=/nonexistent/libScheduler.so", "serve"},
    };
    for (const std::vector<std::string>& arguments : cases) {
        CToolProcess host(SCHEDULER_HOST, arguments);
        host.CloseInput();
        EXPECT_TRUE(host.ReadAllLines(5s).empty());
        EXPECT_EQ(host.Wait(5s), 1) << arguments.front();
        EXPECT_NE(host.ErrorText().find("scheduler-host: Cannot load module library "
                                        "/nonexistent/libScheduler.so"),
                  std::string::npos)
            << host.ErrorText();
    }
}

}  // namespace
}  // namespace Zent::ToolTests

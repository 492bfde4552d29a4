#pragma once

// One run of a command-line tool as a shell script runs it: its standard input fed from a
// text, then its output lines, its standard error and its exit status.
//
//     const ToolRun run = RunTool(SCHEDULER_HOST " serve --linger 2", "{...}\n{...}\n");
//     run.status;   // 0; 137 when the run outlasted its time and was killed
//
// The input stays open `openSeconds` after the text, and `limit` is the options of
// timeout(1): "-s TERM 2" sends the tool (and only the tool) SIGTERM after 2 s, which it
// may handle.

#include <sys/wait.h>
#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace Zent::ToolTests {

struct ToolRun {
    std::vector<std::string> lines;
    std::string errors;
    int status = -1;
};

inline ToolRun RunTool(const std::string& command, const std::string& input,
                       const std::string& limit = "-s KILL 60", int openSeconds = 0) {
    char folderTemplate[] = "/tmp/tool-run-XXXXXX";
    const std::filesystem::path folder = ::mkdtemp(folderTemplate);
    std::ofstream(folder / "input") << input;
    const std::string script = "{ cat " + (folder / "input").string() + "; sleep " +
                               std::to_string(openSeconds) +
                               "; } | timeout --foreground --preserve-status " + limit + " " +
                               command + " 2>" + (folder / "errors").string();
    ToolRun run;
    if (FILE* output = ::popen(script.c_str(), "r")) {
        char* line = nullptr;
        std::size_t capacity = 0;
        for (ssize_t length; (length = ::getline(&line, &capacity, output)) > 0;)
            run.lines.emplace_back(line, length - (line[length - 1] == '\n' ? 1 : 0));
        std::free(line);
        const int status = ::pclose(output);
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::stringstream errors;
    errors << std::ifstream(folder / "errors").rdbuf();
    run.errors = errors.str();
    std::filesystem::remove_all(folder);
    return run;
}

}  // namespace Zent::ToolTests

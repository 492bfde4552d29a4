#pragma once

// A command-line tool run by a test as a separate process: its standard input and output
// on pipes, its standard error in a file.
//
//     CToolProcess host(SCHEDULER_HOST, {"serve"});
//     host.WriteLine(R"({"type": 556, "id": 1})");
//     std::optional<std::string> line = host.ReadLine(std::chrono::seconds(5));
//     host.CloseInput();
//     std::optional<int> status = host.Wait(std::chrono::seconds(5));   // exit status
//
// The destructor kills a process that is still running and removes the error file.

#include <sys/types.h>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace Zent::ToolTests {

class CToolProcess {
public:
    // Starts `program` with `arguments`; throws std::runtime_error when it cannot.
    CToolProcess(const std::string& program, const std::vector<std::string>& arguments);
    ~CToolProcess();
    CToolProcess(const CToolProcess&) = delete;
    CToolProcess& operator=(const CToolProcess&) = delete;

    // Writes `line` and a line break to the standard input.
    void WriteLine(const std::string& line);
    // Closes the standard input: the tool reads the end of its input.
    void CloseInput();
    // Sends `signal` (SIGTERM, SIGINT, ...) to the tool.
    void Signal(int signal);

    // The next line of the standard output without its line break; nullopt at the end of
    // the output or when `timeout` passed first.
    std::optional<std::string> ReadLine(std::chrono::milliseconds timeout);
    // Every line up to the end of the output, read for at most `timeout`.
    std::vector<std::string> ReadAllLines(std::chrono::milliseconds timeout);
    // The exit status, or nullopt when the tool did not end within `timeout` or ended
    // by a signal.
    std::optional<int> Wait(std::chrono::milliseconds timeout);
    // What the tool wrote to its standard error so far.
    std::string ErrorText() const;

private:
    pid_t pid_ = -1;
    int input_ = -1;
    int output_ = -1;
    std::string errorPath_;
    std::string buffered_;
    bool outputEnded_ = false;
    std::optional<int> status_;
};

}  // namespace Zent::ToolTests

#include "tests/tools/ToolProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace Zent::ToolTests {

namespace {

using Clock = std::chrono::steady_clock;

void CloseIfOpen(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

}  // namespace

CToolProcess::CToolProcess(const std::string& program, const std::vector<std::string>& arguments) {
    char errorTemplate[] = "/tmp/tool-stderr-XXXXXX";
    const int errorFile = ::mkstemp(errorTemplate);
    if (errorFile < 0) throw std::runtime_error("cannot create a file for standard error");
    errorPath_ = errorTemplate;

    int toChild[2];
    int fromChild[2];
    if (::pipe2(toChild, O_CLOEXEC) != 0 || ::pipe2(fromChild, O_CLOEXEC) != 0)
        throw std::runtime_error("cannot create pipes");

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, toChild[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fromChild[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, errorFile, STDERR_FILENO);

    std::vector<std::string> words{program};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    // The test ignores SIGPIPE, so that a tool that ends early cannot end the test; the
    // tool gets the default back.
    std::signal(SIGPIPE, SIG_IGN);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);

    const int result =
        ::posix_spawn(&pid_, program.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    ::close(toChild[0]);
    ::close(fromChild[1]);
    ::close(errorFile);
    input_ = toChild[1];
    output_ = fromChild[0];
    if (result != 0) {
        pid_ = -1;
        throw std::runtime_error("cannot start " + program);
    }
}

CToolProcess::~CToolProcess() {
    CloseIfOpen(input_);
    CloseIfOpen(output_);
    if (pid_ > 0 && !status_) {
        ::kill(pid_, SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
    ::unlink(errorPath_.c_str());
}

void CToolProcess::WriteLine(const std::string& line) {
    const std::string text = line + "\n";
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = ::write(input_, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw std::runtime_error("cannot write to the tool");
        written += static_cast<std::size_t>(n);
    }
}

void CToolProcess::CloseInput() {
    CloseIfOpen(input_);
}

void CToolProcess::Signal(int signal) {
    if (pid_ > 0 && !status_) ::kill(pid_, signal);
}

std::optional<std::string> CToolProcess::ReadLine(std::chrono::milliseconds timeout) {
    const Clock::time_point deadline = Clock::now() + timeout;
    while (true) {
        if (const auto end = buffered_.find('\n'); end != std::string::npos) {
            std::string line = buffered_.substr(0, end);
            buffered_.erase(0, end + 1);
            return line;
        }
        if (outputEnded_) return std::nullopt;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return std::nullopt;
        pollfd ready{output_, POLLIN, 0};
        const int polled = ::poll(&ready, 1, static_cast<int>(left.count()));
        if (polled < 0 && errno == EINTR) continue;
        if (polled <= 0) return std::nullopt;
        char chunk[4096];
        const ssize_t n = ::read(output_, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            outputEnded_ = true;
        } else {
            buffered_.append(chunk, static_cast<std::size_t>(n));
        }
    }
}

std::vector<std::string> CToolProcess::ReadAllLines(std::chrono::milliseconds timeout) {
    const Clock::time_point deadline = Clock::now() + timeout;
    std::vector<std::string> lines;
    while (const auto line = ReadLine(
               std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()))) {
        lines.push_back(*line);
    }
    return lines;
}

std::optional<int> CToolProcess::Wait(std::chrono::milliseconds timeout) {
    const Clock::time_point deadline = Clock::now() + timeout;
    while (!status_) {
        int status = 0;
        const pid_t ended = ::waitpid(pid_, &status, WNOHANG);
        if (ended == pid_) {
            status_ = status;
            break;
        }
        if (Clock::now() >= deadline) return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!WIFEXITED(*status_)) return std::nullopt;
    return WEXITSTATUS(*status_);
}

std::string CToolProcess::ErrorText() const {
    std::ifstream file(errorPath_);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

}  // namespace Zent::ToolTests

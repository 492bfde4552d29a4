#include "tools/scheduler-host/Serve.h"

#include <poll.h>
#include <pthread.h>
#include <sys/signalfd.h>
#include <unistd.h>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <system_error>
#include <utility>
#include <variant>
#include <vector>

#include "common/security/UserContext.h"
#include "host/SchedulerHost.h"
#include "tools/scheduler-host/JsonMessages.h"
#include "tools/scheduler-host/JsonText.h"
#include "tools/scheduler-host/Lifecycle.h"
#include "tools/scheduler-host/UserDirectory.h"

namespace Zent::Tools::SchedulerHost {

// Fixed text: the JSON field names, kinds, control names and error texts in this file are
// the serve protocol (docs/host-protocol.md) that clients match; keep them exactly as they
// are.

namespace {

// How long a control line or the end of the input waits for the replies still owed.
constexpr auto kReplyPatience = std::chrono::seconds(10);
// How long the bus gets to deliver what is queued.
constexpr auto kBusPatience = std::chrono::seconds(5);
constexpr std::size_t kReadChunk = 64 * 1024;

constexpr const char* kStoppedText = "the module is stopped: the request was not sent";
constexpr const char* kUnansweredText = "the module stopped before answering the request";

// Blocks SIGTERM and SIGINT in the calling thread, which every thread started afterwards
// inherits, and offers them as readable data on a signalfd; restores the mask at the end.
class CShutdownSignals {
public:
    CShutdownSignals() {
        sigemptyset(&signals_);
        sigaddset(&signals_, SIGTERM);
        sigaddset(&signals_, SIGINT);
        if (const int error = pthread_sigmask(SIG_BLOCK, &signals_, &previous_); error != 0)
            throw std::system_error(error, std::generic_category(), "pthread_sigmask");
        fd_ = signalfd(-1, &signals_, SFD_CLOEXEC | SFD_NONBLOCK);
        if (fd_ < 0) {
            const int error = errno;
            pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
            throw std::system_error(error, std::generic_category(), "signalfd");
        }
    }
    ~CShutdownSignals() {
        ::close(fd_);
        pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }
    CShutdownSignals(const CShutdownSignals&) = delete;
    CShutdownSignals& operator=(const CShutdownSignals&) = delete;

    int Fd() const { return fd_; }

    // The signal waiting on the signalfd, if any.
    std::optional<int> Take() const {
        signalfd_siginfo info{};
        if (::read(fd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info))
            return static_cast<int>(info.ssi_signo);
        return std::nullopt;
    }

private:
    sigset_t signals_{};
    sigset_t previous_{};
    int fd_ = -1;
};

// The input lines, read from a file descriptor while watching for a shutdown signal. Once
// a signal came, only the whole lines read already are still handed out.
class CLineSource {
public:
    CLineSource(int input, const CShutdownSignals& signals) : input_(input), signals_(signals) {}

    // The next line without its line break (the last one may have none); nullopt at the
    // end of the input or after a signal.
    std::optional<std::string> Next() {
        for (;;) {
            if (const auto lineBreak = buffer_.find('\n', start_); lineBreak != std::string::npos) {
                std::string line = buffer_.substr(start_, lineBreak - start_);
                start_ = lineBreak + 1;
                return line;
            }
            // Only an incomplete line is left: drop what was handed out, once per read.
            buffer_.erase(0, start_);
            start_ = 0;
            if (signal_) return std::nullopt;
            if (ended_) {
                if (buffer_.empty()) return std::nullopt;
                return std::exchange(buffer_, {});
            }
            ReadMore();
        }
    }

    // Waits up to `timeout` for a signal, ignoring the input.
    void WaitForSignal(std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!signal_) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return;
            pollfd watched{signals_.Fd(), POLLIN, 0};
            if (::poll(&watched, 1, static_cast<int>(left.count())) > 0) signal_ = signals_.Take();
        }
    }

    // The signal that ended the input, if one did.
    std::optional<int> Signal() const { return signal_; }

private:
    // Waits for input or a signal and takes what came.
    void ReadMore() {
        pollfd watched[2] = {{signals_.Fd(), POLLIN, 0}, {input_, POLLIN, 0}};
        if (::poll(watched, 2, -1) < 0) {
            if (errno != EINTR) ended_ = true;
            return;
        }
        if (watched[0].revents != 0) {
            signal_ = signals_.Take();
            if (signal_) return;
        }
        if (watched[1].revents == 0) return;
        char chunk[kReadChunk];
        const ssize_t count = ::read(input_, chunk, sizeof chunk);
        if (count > 0)
            buffer_.append(chunk, static_cast<std::size_t>(count));
        else if (count == 0 || (errno != EINTR && errno != EAGAIN))
            ended_ = true;
    }

    const int input_;
    const CShutdownSignals& signals_;
    std::string buffer_;
    // Where the lines not yet handed out begin in buffer_.
    std::size_t start_ = 0;
    bool ended_ = false;
    std::optional<int> signal_;
};

// Writes whole lines from any thread, each flushed at once.
class CLineWriter {
public:
    explicit CLineWriter(std::ostream& output) : output_(output) {}

    void Write(const std::string& line) {
        std::lock_guard lock(lock_);
        output_ << line << '\n' << std::flush;
    }

private:
    std::mutex lock_;
    std::ostream& output_;
};

// The requests whose reply has not been written yet: request id and user name.
class CPendingReplies {
public:
    using Owed = std::multimap<std::uint32_t, std::optional<std::string>>;

    void Expect(std::uint32_t id, const std::optional<std::string>& user) {
        std::lock_guard lock(lock_);
        owed_.emplace(id, user);
    }

    void Done(std::uint32_t id) {
        std::lock_guard lock(lock_);
        if (const auto found = owed_.find(id); found != owed_.end()) owed_.erase(found);
        if (owed_.empty()) noneLeft_.notify_all();
    }

    bool WaitUntilNone(std::chrono::steady_clock::duration timeout) {
        std::unique_lock lock(lock_);
        return noneLeft_.wait_for(lock, timeout, [this] { return owed_.empty(); });
    }

    // Every reply still owed, which is no longer expected from now on.
    Owed TakeAll() {
        std::lock_guard lock(lock_);
        noneLeft_.notify_all();
        return std::exchange(owed_, {});
    }

private:
    std::mutex lock_;
    std::condition_variable noneLeft_;
    Owed owed_;
};

// A request that the host answers itself instead of sending it.
class CNotServed : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class CServeSession {
public:
    CServeSession(const HostSettings& settings, std::ostream& output)
        : settings_(settings), writer_(output), host_(HostOptions(settings, {})) {
        host_.GetBus().AddObserver([this](const auto& message, const auto& userContext) {
            OnBusMessage(message, userContext);
        });
    }

    int Run(CLineSource& lines) {
        host_.Load(settings_.library);
        host_.Initialize();
        if (settings_.startModule) {
            host_.Start();
            started_ = true;
        }
        std::size_t lineNumber = 0;
        bool quit = false;
        while (!quit) {
            const std::optional<std::string> text = lines.Next();
            if (!text) break;
            quit = HandleLine(*text, ++lineNumber);
        }
        if (const std::optional<int> signal = lines.Signal()) {
            host_.GetLogger().Log(std::string("Received SIG") + sigabbrev_np(*signal) + " after " +
                                      std::to_string(lineNumber) +
                                      " input lines: answering them, then shutting down",
                                  2, "SchedulerHost");
        }
        Finish(lines, !quit && !lines.Signal());
        return 0;
    }

private:
    // True for a quit line.
    bool HandleLine(const std::string& text, std::size_t lineNumber) {
        if (text.find_first_not_of(" \t\r") == std::string::npos) return false;
        try {
            const std::variant<JsonRequest, JsonControl> line = LineFromJson(text);
            if (const auto* control = std::get_if<JsonControl>(&line))
                return HandleControl(*control);
            Send(std::get<JsonRequest>(line));
        } catch (const std::exception& error) {
            const LineIdentity identity = IdentityOf(text);
            writer_.Write(ErrorLineJson(error.what(), lineNumber, identity.id, identity.user));
        }
        return false;
    }

    bool HandleControl(const JsonControl& control) {
        const std::string& name = control.name;
        WaitForReplies();
        CJsonObjectWriter ack;
        ack.AddString("kind", "control").AddString("control", name);
        if (name == "start") {
            // Acknowledged first, so that the replies to the requests that waited for the
            // start always follow the acknowledgement.
            writer_.Write(ack.Text());
            host_.Start();
            started_ = true;
            moduleStopped_ = stoppedForGood_;
            return false;
        } else if (name == "prepareShutdown") {
            host_.PrepareShutdown();
            prepared_ = true;
        } else if (name == "stop") {
            const bool stopped = control.force ? host_.Stop(true) : StopGracefully(host_);
            if (stopped) Stopped(control.force);
            ack.AddBool("force", control.force).AddBool("stopped", stopped);
        }
        writer_.Write(ack.Text());
        return name == "quit";
    }

    // The module processes no more requests: the replies it still owes will not come.
    void Stopped(bool forever) {
        moduleStopped_ = true;
        stoppedForGood_ = stoppedForGood_ || forever;
        host_.GetBus().WaitUntilIdle(kBusPatience);
        for (const auto& [id, user] : pending_.TakeAll())
            writer_.Write(ErrorLineJson(kUnansweredText, std::nullopt, id, user));
    }

    void Send(const JsonRequest& request) {
        if (moduleStopped_) throw CNotServed(kStoppedText);
        auto userContext = request.user ? users_.ContextOf(*request.user)
                                        : std::make_shared<Common::Security::CUserContext>();
        if (request.answered) pending_.Expect(request.id, request.user);
        if (!host_.Send(request.message, std::move(userContext))) {
            if (request.answered) pending_.Done(request.id);
            throw CNotServed("the bus did not take the request");
        }
    }

    void OnBusMessage(const std::shared_ptr<Common::Kernel::IMessage>& message,
                      const Common::Kernel::UserContextPtr& userContext) {
        const std::optional<std::uint32_t> replyId = ReplyIdOf(*message);
        const auto seenAt = std::chrono::system_clock::now();
        try {
            if (const auto line = MessageToJson(message, userContext, seenAt)) writer_.Write(*line);
        } catch (const std::exception& error) {
            writer_.Write(UnwritableMessageJson(*message, userContext, error.what(), seenAt));
        }
        if (replyId) pending_.Done(*replyId);
    }

    // Waits until every request sent so far that gets an answer has been answered, while
    // the module processes requests.
    void WaitForReplies() {
        if (started_ && !moduleStopped_ && !pending_.WaitUntilNone(kReplyPatience))
            host_.GetLogger().Log("Some requests got no reply in time", 3, "SchedulerHost");
    }

    // Waits for what is still owed, then shuts the module down in order.
    void Finish(CLineSource& lines, bool linger) {
        if (linger && settings_.linger.count() > 0) lines.WaitForSignal(settings_.linger);
        WaitForReplies();
        host_.GetBus().WaitUntilIdle(kBusPatience);
        if (!prepared_) host_.PrepareShutdown();
        if (!moduleStopped_) Stopped(!StopModule(host_));
        host_.Unload();
        host_.GetBus().WaitUntilIdle(kBusPatience);
    }

    const HostSettings settings_;
    CLineWriter writer_;
    CPendingReplies pending_;
    CUserDirectory users_;
    bool started_ = false;
    bool prepared_ = false;
    // A stop succeeded and no start followed (a forced stop is for good).
    bool moduleStopped_ = false;
    bool stoppedForGood_ = false;
    // Last: destroyed first, so that no observer call outlives the members above.
    Host::CSchedulerHost host_;
};

}  // namespace

int RunServe(const HostSettings& settings, int input, std::ostream& output) {
    // Before the session starts any thread, so that the signals reach only the signalfd.
    const CShutdownSignals signals;
    CLineSource lines(input, signals);
    CServeSession session(settings, output);
    return session.Run(lines);
}

}  // namespace Zent::Tools::SchedulerHost

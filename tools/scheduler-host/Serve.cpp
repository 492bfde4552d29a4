#include "tools/scheduler-host/Serve.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <istream>
#include <mutex>
#include <optional>
#include <ostream>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <variant>

#include "common/security/UserContext.h"
#include "host/SchedulerHost.h"
#include "tools/scheduler-host/JsonMessages.h"
#include "tools/scheduler-host/JsonText.h"
#include "tools/scheduler-host/Lifecycle.h"
#include "tools/scheduler-host/NamedUser.h"

namespace Zent::Tools::SchedulerHost {

namespace {

// How long a control line or the end of the input waits for the replies still owed.
constexpr auto kReplyPatience = std::chrono::seconds(10);
// How long the bus gets to deliver what is queued.
constexpr auto kBusPatience = std::chrono::seconds(5);

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

// The ids of the requests whose reply has not been written yet.
class CPendingReplies {
public:
    void Expect(std::uint32_t id) {
        std::lock_guard lock(lock_);
        ids_.insert(id);
    }

    void Done(std::uint32_t id) {
        std::lock_guard lock(lock_);
        if (const auto found = ids_.find(id); found != ids_.end()) ids_.erase(found);
        if (ids_.empty()) noneLeft_.notify_all();
    }

    bool WaitUntilNone(std::chrono::steady_clock::duration timeout) {
        std::unique_lock lock(lock_);
        return noneLeft_.wait_for(lock, timeout, [this] { return ids_.empty(); });
    }

private:
    std::mutex lock_;
    std::condition_variable noneLeft_;
    std::multiset<std::uint32_t> ids_;
};

class CServeSession {
public:
    CServeSession(const HostSettings& settings, std::ostream& output)
        : settings_(settings), writer_(output), host_(HostOptions(settings, {})) {
        host_.GetBus().AddObserver([this](const auto& message, const auto& userContext) {
            OnBusMessage(message, userContext);
        });
    }

    int Run(std::istream& input) {
        host_.Load(settings_.library);
        host_.Initialize();
        if (settings_.startModule) {
            host_.Start();
            started_ = true;
        }
        std::string text;
        std::size_t lineNumber = 0;
        bool quit = false;
        while (!quit && std::getline(input, text)) {
            ++lineNumber;
            quit = HandleLine(text, lineNumber);
        }
        Finish(!quit);
        return 0;
    }

private:
    // True for a quit line.
    bool HandleLine(const std::string& text, std::size_t lineNumber) {
        if (text.find_first_not_of(" \t\r") == std::string::npos) return false;
        std::optional<std::uint32_t> id;
        try {
            const std::variant<JsonRequest, JsonControl> line = LineFromJson(text);
            if (const auto* control = std::get_if<JsonControl>(&line))
                return HandleControl(*control);
            const JsonRequest& request = std::get<JsonRequest>(line);
            id = request.id;
            Send(request);
        } catch (const std::exception& error) {
            writer_.Write(ErrorLineJson(error.what(), lineNumber, id));
        }
        return false;
    }

    bool HandleControl(const JsonControl& control) {
        const std::string& name = control.name;
        WaitForReplies();
        CJsonObjectWriter ack;
        ack.AddString("kind", "control").AddString("control", name);
        if (name == "start") {
            host_.Start();
            started_ = true;
        } else if (name == "prepareShutdown") {
            host_.PrepareShutdown();
            prepared_ = true;
        } else if (name == "stop") {
            const bool stopped = host_.Stop(control.force);
            stopped_ = stopped_ || stopped;
            ack.AddBool("force", control.force).AddBool("stopped", stopped);
        }
        writer_.Write(ack.Text());
        return name == "quit";
    }

    void Send(const JsonRequest& request) {
        auto userContext = request.user ? users_.ContextOf(*request.user)
                                        : std::make_shared<Common::Security::CUserContext>();
        if (request.answered) pending_.Expect(request.id);
        if (!host_.Send(request.message, std::move(userContext))) {
            if (request.answered) pending_.Done(request.id);
            throw std::runtime_error("the bus did not take the request");
        }
    }

    void OnBusMessage(const std::shared_ptr<Common::Kernel::IMessage>& message,
                      const Common::Kernel::UserContextPtr& userContext) {
        const std::optional<std::uint32_t> replyId = ReplyIdOf(*message);
        try {
            if (const auto line =
                    MessageToJson(message, userContext, std::chrono::system_clock::now())) {
                writer_.Write(*line);
            }
        } catch (const std::exception& error) {
            writer_.Write(CJsonObjectWriter()
                              .AddString("error", error.what())
                              .AddNumber("type", message->GetType())
                              .Text());
        }
        if (replyId) pending_.Done(*replyId);
    }

    // Waits until every request sent so far that gets an answer has been answered, while
    // the module processes requests.
    void WaitForReplies() {
        if (started_ && !stopped_ && !pending_.WaitUntilNone(kReplyPatience))
            host_.GetLogger().Log("Some requests got no reply in time", 3, "SchedulerHost");
    }

    // Waits for what is still owed, then shuts the module down in order.
    void Finish(bool linger) {
        if (linger && settings_.linger.count() > 0) std::this_thread::sleep_for(settings_.linger);
        WaitForReplies();
        host_.GetBus().WaitUntilIdle(kBusPatience);
        if (!prepared_) host_.PrepareShutdown();
        if (!stopped_) StopModule(host_);
        host_.Unload();
        host_.GetBus().WaitUntilIdle(kBusPatience);
    }

    const HostSettings settings_;
    CLineWriter writer_;
    CPendingReplies pending_;
    CUserDirectory users_;
    bool started_ = false;
    bool prepared_ = false;
    bool stopped_ = false;
    // Last: destroyed first, so that no observer call outlives the members above.
    Host::CSchedulerHost host_;
};

}  // namespace

int RunServe(const HostSettings& settings, std::istream& input, std::ostream& output) {
    CServeSession session(settings, output);
    return session.Run(input);
}

}  // namespace Zent::Tools::SchedulerHost

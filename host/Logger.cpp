#include "host/Logger.h"

#include <cstdio>
#include <ctime>
#include <iostream>

namespace Zent::Host {

// Fixed text: the log line's form "<UTC time> <level name> <module> <text>" and the level
// names are read by programs that follow standard error; keep them exactly as they are.

namespace {

std::string LevelName(std::int32_t level) {
    switch (level) {
        case 1:
            return "DETAIL";
        case 2:
            return "INFO";
        case 3:
            return "WARNING";
        case 4:
            return "ERROR";
        default:
            return "LEVEL" + std::to_string(level);
    }
}

std::string FormatTime(std::chrono::system_clock::time_point time) {
    using namespace std::chrono;
    const auto sinceEpoch = duration_cast<microseconds>(time.time_since_epoch());
    auto wholeSeconds = duration_cast<seconds>(sinceEpoch);
    auto micros = sinceEpoch - wholeSeconds;
    if (micros.count() < 0) {
        wholeSeconds -= seconds(1);
        micros += seconds(1);
    }
    const std::time_t seconds = static_cast<std::time_t>(wholeSeconds.count());
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[128];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%06dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  static_cast<int>(micros.count()));
    return text;
}

}  // namespace

CLogger::CLogger(std::int32_t minimumLevel, Sink sink)
    : minimumLevel_(minimumLevel), sink_(std::move(sink)) {}

void CLogger::Log(const std::string& text, std::int32_t level, const std::string& moduleName) {
    if (level < minimumLevel_) return;
    LogRecord record{std::chrono::system_clock::now(), level, moduleName, text};
    std::lock_guard lock(lock_);
    if (sink_) {
        sink_(record);
    } else {
        std::cerr << FormatLine(record) << '\n' << std::flush;
    }
}

std::string CLogger::FormatLine(const LogRecord& record) {
    std::string text = record.text;
    for (char& c : text) {
        if (c == '\n' || c == '\r') c = ' ';
    }
    return FormatTime(record.time) + ' ' + LevelName(record.level) + ' ' +
           (record.moduleName.empty() ? std::string("-") : record.moduleName) + ' ' + text;
}

}  // namespace Zent::Host

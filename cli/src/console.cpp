#include "console.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <mutex>

#include <fmt/format.h>

#include "util/text.h"

namespace reel {

namespace {

// Characters, not bytes: a UTF-8 continuation byte does not start a character.
std::size_t character_count(std::string_view text) {
    std::size_t count = 0;
    for (const char c : text)
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++count;
    return count;
}

}  // namespace

std::string render_progress_line(const ProgressEvent& event) {
    constexpr std::size_t message_width = 60;
    std::string line = fmt::format("\r{:5.1f}%  {}", event.percent, event.message);
    const std::size_t characters = character_count(event.message);
    if (characters < message_width) line.append(message_width - characters, ' ');
    return line;
}

std::optional<std::string> PlainProgress::line_for(const ProgressEvent& event) {
    const double percent = std::isfinite(event.percent) ? std::clamp(event.percent, 0.0, 100.0) : 0.0;
    const int tenth = static_cast<int>(percent / 10);
    const bool new_stage = event.stage != stage_;
    if (!new_stage && tenth <= tenth_) return std::nullopt;
    if (new_stage) stage_ = event.stage;
    // Tool runs report without a label; the stage's own one stands for them.
    if (new_stage || !event.message.empty()) label_ = event.message;
    tenth_ = tenth;
    return fmt::format("{:5.1f}%  {}\n", event.percent, label_);
}

bool log_line_shown(std::string_view line) {
    return starts_with(line, "> ") || contains(line, "Warning") || contains(line, "Error");
}

std::string render_log_line(std::string_view line, bool terminal) {
    return terminal ? fmt::format("\n{}\n", line) : fmt::format("{}\n", line);
}

ProgressSink console_sink(std::ostream& err, bool quiet, bool terminal) {
    if (quiet) return ProgressSink{[](const ProgressEvent&) {}, [](const std::string&) {}};
    auto lock = std::make_shared<std::mutex>();
    ProgressSink sink;
    if (terminal) {
        sink.progress = [&err, lock](const ProgressEvent& event) {
            const std::lock_guard guard(*lock);
            err << render_progress_line(event) << std::flush;
        };
    } else {
        sink.progress = [&err, lock, plain = std::make_shared<PlainProgress>()](const ProgressEvent& event) {
            const std::lock_guard guard(*lock);
            if (const auto line = plain->line_for(event)) err << *line << std::flush;
        };
    }
    sink.log = [&err, lock, terminal](const std::string& line) {
        if (!log_line_shown(line)) return;
        const std::lock_guard guard(*lock);
        err << render_log_line(line, terminal) << std::flush;
    };
    return sink;
}

}  // namespace reel

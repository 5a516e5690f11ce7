#include "console.h"

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

bool log_line_shown(std::string_view line) {
    return starts_with(line, "> ") || contains(line, "Warning") || contains(line, "Error");
}

std::string render_log_line(std::string_view line) { return fmt::format("\n{}\n", line); }

ProgressSink console_sink(std::ostream& err, bool quiet) {
    if (quiet) return ProgressSink{[](const ProgressEvent&) {}, [](const std::string&) {}};
    auto lock = std::make_shared<std::mutex>();
    ProgressSink sink;
    sink.progress = [&err, lock](const ProgressEvent& event) {
        const std::lock_guard guard(*lock);
        err << render_progress_line(event) << std::flush;
    };
    sink.log = [&err, lock](const std::string& line) {
        if (!log_line_shown(line)) return;
        const std::lock_guard guard(*lock);
        err << render_log_line(line) << std::flush;
    };
    return sink;
}

}  // namespace reel

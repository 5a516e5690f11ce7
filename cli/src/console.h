#pragma once
// What an edit run shows a watching person on standard error: one overwritten
// progress line (plain lines when standard error is no terminal), tool command
// lines, and the tools' warnings and errors.
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include "tools/run.h"

namespace reel {

// "\r", the percent right-aligned in 5 with one decimal, "%", two blanks, and the
// message padded with blanks to 60 characters (never cut). No line end.
std::string render_progress_line(const ProgressEvent& event);

// Progress for a reader that is not a terminal (a log file, another program),
// where carriage-return updates pile up: a line when a stage begins and at most
// one more per tenth of the whole run, each "  7.3%  label\n".
class PlainProgress {
public:
    // The line to write for `event`, if any.
    std::optional<std::string> line_for(const ProgressEvent& event);

private:
    std::string stage_;
    std::string label_;
    int tenth_ = -1;
};

// Tool command lines ("> ...") and lines that mention "Warning" or "Error".
bool log_line_shown(std::string_view line);
// "\n" + line + "\n": the line stands on its own below the progress line. Without
// a terminal there is no such line to step off: line + "\n".
std::string render_log_line(std::string_view line, bool terminal = true);

// Callbacks that write to `err`, or do nothing when `quiet`; `terminal` chooses
// the overwritten line or plain lines. They may be called from the pipeline's
// tasks; writes do not interleave.
ProgressSink console_sink(std::ostream& err, bool quiet, bool terminal = true);

}  // namespace reel

#pragma once
// What an edit run shows a watching person on standard error: one overwritten
// progress line, tool command lines, and the tools' warnings and errors.
#include <ostream>
#include <string>
#include <string_view>

#include "tools/run.h"

namespace reel {

// "\r", the percent right-aligned in 5 with one decimal, "%", two blanks, and the
// message padded with blanks to 60 characters (never cut). No line end.
std::string render_progress_line(const ProgressEvent& event);

// Tool command lines ("> ...") and lines that mention "Warning" or "Error".
bool log_line_shown(std::string_view line);
// "\n" + line + "\n": the line stands on its own below the progress line.
std::string render_log_line(std::string_view line);

// Callbacks that write to `err`, or do nothing when `quiet`. They may be called
// from the pipeline's tasks; writes do not interleave.
ProgressSink console_sink(std::ostream& err, bool quiet);

}  // namespace reel

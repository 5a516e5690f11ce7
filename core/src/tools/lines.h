#pragma once
// Cutting tool output into lines: live standard output of the progress runs, and
// standard error once the child has ended.
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace reel {

using LineHandler = std::function<void(std::string_view)>;

// Splits a byte stream that arrives in chunks into lines. A line ends at "\n",
// "\r\n" or a lone "\r": mkvmerge ends its "Progress: " updates with "\r" alone
// when writing to a pipe, and such an update must be seen when it is written,
// not glued to the next line. Works across chunk borders.
class LineSplitter {
public:
    void feed(std::string_view bytes, const LineHandler& on_line);
    // Hands over a last line that had no terminator.
    void finish(const LineHandler& on_line);

private:
    std::string partial_;
    bool after_cr_ = false;  // the previous chunk ended in "\r"; a "\n" next belongs to it
};

// The standard-error lines of a progress run: decoded as UTF-8 (invalid
// sequences replaced), every "\r" taken as a line end, each line trimmed of
// white space, empty lines dropped.
void for_each_stderr_line(std::string_view stderr_bytes, const LineHandler& on_line);

// The last `count` of `lines` joined with "\n" (fewer when there are fewer).
std::string join_last_lines(const std::vector<std::string>& lines, std::size_t count);

}  // namespace reel

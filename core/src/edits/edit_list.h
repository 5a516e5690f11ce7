#pragma once
// The CSV edit-list file: forgiving, a bad line costs only itself.
#include <string>
#include <string_view>
#include <vector>

#include "edits/edit.h"
#include "util/result.h"

namespace reel {

struct EditListResult {
    std::vector<Edit> edits;
    std::vector<std::string> messages;  // line problems, in line order
};

// Splits one CSV line into fields (at least one) at `separator`; quotes as
// described for edit lists.
std::vector<std::string> split_csv_line(std::string_view line, char separator = ',');

// The separator of a list (',', ';' or tab), judged from its first line: the one
// under which that line is a header or a readable row, else the one it uses most.
char detect_separator(std::string_view first_line);

// A header line: some field names a known column and none reads as a time.
// `fields` trimmed and lower-cased.
bool is_header(const std::vector<std::string>& fields);

// The non-blank lines of an edit-list text, each as written without its line
// end ("\r\n" counts as one); line numbers in messages are positions in this list, from 1.
std::vector<std::string_view> edit_list_lines(std::string_view text);

// Reads the file at `path` (as given, used in messages): an MPlayer/Kodi EDL
// when the name ends in ".edl" (any letter case) or the text looks like one
// (looks_like_edl), else a CSV list. Fails only when the file cannot be read
// or is not UTF-8.
Result<EditListResult> read_edit_list(const std::string& path, double default_card_seconds);

// The same on text already read (a CSV list; EDL text goes to parse_edl).
EditListResult parse_edit_list(std::string_view text, double default_card_seconds);

}  // namespace reel

#include "edits/edit_list.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <optional>

#include <fmt/format.h>

#include "edits/edl.h"
#include "edits/time.h"
#include "util/files.h"
#include "util/numbers.h"
#include "util/text.h"

namespace reel {

namespace {

// Column positions, counting from 0.
struct Columns {
    std::size_t start = 0;
    std::size_t end = 1;
    std::size_t action = 2;
    std::size_t text = 3;
    std::size_t cardSeconds = 4;
    std::size_t enabled = 5;
};

// Each column with the names a header may give it.
struct ColumnNames {
    std::size_t Columns::*column;
    std::vector<std::string_view> names;
};
const std::vector<ColumnNames>& column_names() {
    static const std::vector<ColumnNames> table = {
        {&Columns::start, {"start", "from", "begin"}},
        {&Columns::end, {"end", "to", "finish", "stop"}},
        {&Columns::action, {"action", "type", "kind"}},
        {&Columns::text, {"text", "card", "message"}},
        {&Columns::cardSeconds, {"card_seconds", "duration", "card_duration", "seconds"}},
        {&Columns::enabled, {"enabled", "on", "active"}},
    };
    return table;
}

bool is_column_name(std::string_view field) {
    return std::ranges::any_of(column_names(), [field](const ColumnNames& c) {
        return std::ranges::find(c.names, field) != c.names.end();
    });
}

std::vector<std::string> header_fields(std::string_view line, char separator) {
    std::vector<std::string> fields = split_csv_line(line, separator);
    for (std::string& field : fields) field = ascii_lower(trim(field));
    return fields;
}

// The leftmost header field that carries one of `names`; `fallback` otherwise.
std::size_t column_of(const std::vector<std::string>& header, const std::vector<std::string_view>& names,
                      std::size_t fallback) {
    for (std::size_t i = 0; i < header.size(); ++i)
        if (std::ranges::find(names, header[i]) != names.end()) return i;
    return fallback;
}

Columns columns_from_header(const std::vector<std::string>& header) {
    const Columns defaults;
    Columns c;
    for (const ColumnNames& column : column_names())
        c.*column.column = column_of(header, column.names, defaults.*column.column);
    return c;
}

bool reads_as_row(const std::vector<std::string>& fields) {
    const Columns defaults;
    return fields.size() > defaults.action && parse_time(fields[defaults.start]) && parse_time(fields[defaults.end]) &&
           action_from_word(fields[defaults.action]);
}

}  // namespace

std::vector<std::string_view> edit_list_lines(std::string_view text) {
    std::vector<std::string_view> lines = split_lines(text);
    std::erase_if(lines, [](std::string_view line) { return trim(line).empty(); });
    return lines;
}

namespace {

// One data line: an edit, or the message that explains why it was skipped; an
// edit may come with a message of its own (a card length that was replaced).
struct Row {
    std::optional<Edit> edit;
    std::optional<std::string> message;
};

Row read_row(std::string_view line, char separator, std::size_t number, const Columns& columns,
             double default_card_seconds) {
    const std::vector<std::string> fields = split_csv_line(line, separator);
    const auto field = [&fields](std::size_t index) -> std::string_view {
        return index < fields.size() ? std::string_view(fields[index]) : std::string_view();
    };

    const auto start = parse_time(field(columns.start));
    const auto end = parse_time(field(columns.end));
    const auto action = action_from_word(field(columns.action));
    if (!start || !end || !action)
        return {std::nullopt, fmt::format("Line {}: could not read start/end/action.", number)};
    if (*start >= *end) return {std::nullopt, fmt::format("Line {}: end must be after start.", number)};

    Row row;
    Edit& edit = row.edit.emplace();
    edit.id = fmt::format("csv{}", number);
    edit.start = *start;
    edit.end = *end;
    edit.action = *action;

    const std::string_view text = trim(field(columns.text));
    edit.text = text == "-" ? std::string() : std::string(text);

    const std::string length = ascii_lower(trim(field(columns.cardSeconds)));
    edit.cardSeconds = default_card_seconds;
    edit.match = length == "same" || length == "match" || length == "original";
    if (!edit.match && !length.empty() && length != "-") {
        // A card length must be a usable duration; inf or nan would poison the
        // card's frame count, so they count as unreadable like any other word.
        const auto seconds = read_number(length);
        if (seconds && std::isfinite(*seconds)) {
            if (card_seconds_in_range(*seconds)) {
                edit.cardSeconds = *seconds;
            } else {
                row.message = fmt::format("Line {}: card length '{}' is not {}; the default {} s is used.", number,
                                          trim(field(columns.cardSeconds)), card_seconds_range_text(),
                                          format_shortest(default_card_seconds));
            }
        }
    }

    const std::string enabled = ascii_lower(trim(field(columns.enabled)));
    edit.enabled = !(enabled == "0" || enabled == "no" || enabled == "off" || enabled == "false");
    return row;
}

}  // namespace

std::vector<std::string> split_csv_line(std::string_view line, char separator) {
    // Byte-wise is character-wise here: '"' and the separators never occur
    // inside a multi-byte UTF-8 sequence.
    std::vector<std::string> fields;
    std::string current;
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c == '"') {
                if (i + 1 < line.size() && line[i + 1] == '"') {
                    current += '"';
                    ++i;
                } else {
                    quoted = false;
                }
            } else {
                current += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == separator) {
            fields.push_back(std::move(current));
            current.clear();
        } else {
            current += c;
        }
    }
    fields.push_back(std::move(current));
    return fields;
}

bool is_header(const std::vector<std::string>& fields) {
    // A data line may hold a column name too ("card" is an action word), but
    // never next to no time at all.
    return std::ranges::any_of(fields, [](const std::string& f) { return is_column_name(f); }) &&
           std::ranges::none_of(fields, [](const std::string& f) { return parse_time(f).has_value(); });
}

char detect_separator(std::string_view first_line) {
    static constexpr char candidates[] = {',', ';', '\t'};
    for (const char separator : candidates) {
        if (is_header(header_fields(first_line, separator)) || reads_as_row(split_csv_line(first_line, separator)))
            return separator;
    }
    // Neither a header nor a readable row: the separator the line uses most,
    // outside quotes.
    std::size_t counts[std::size(candidates)] = {};
    bool quoted = false;
    for (const char c : first_line) {
        if (c == '"') quoted = !quoted;
        for (std::size_t i = 0; i < std::size(candidates); ++i)
            if (!quoted && c == candidates[i]) ++counts[i];
    }
    const std::size_t most = static_cast<std::size_t>(std::ranges::max_element(counts) - std::begin(counts));
    return counts[most] > 0 ? candidates[most] : ',';
}

EditListResult parse_edit_list(std::string_view text, double default_card_seconds) {
    EditListResult result;
    // Spreadsheets put a byte-order mark before UTF-8 text; it belongs to no field.
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
    const std::vector<std::string_view> lines = edit_list_lines(text);
    if (lines.empty()) {
        result.messages.emplace_back("The file is empty.");
        return result;
    }

    const char separator = detect_separator(lines.front());
    const std::vector<std::string> first = header_fields(lines.front(), separator);
    const bool header = is_header(first);
    const Columns columns = header ? columns_from_header(first) : Columns{};

    for (std::size_t i = header ? 1 : 0; i < lines.size(); ++i) {
        Row row = read_row(lines[i], separator, i + 1, columns, default_card_seconds);
        if (row.edit) result.edits.push_back(std::move(*row.edit));
        if (row.message) result.messages.push_back(std::move(*row.message));
    }
    // Starts are finite (the time reader refuses inf and nan), so the order is total.
    std::ranges::stable_sort(result.edits, {}, &Edit::start);
    return result;
}

Result<EditListResult> read_edit_list(const std::string& path, double default_card_seconds) {
    const auto bytes = read_file(path_from_text(path));
    if (!bytes) return fail(fmt::format("{}: {}", path, bytes.error()));
    if (!is_valid_utf8(*bytes)) return fail(fmt::format("{}: stream did not contain valid UTF-8", path));
    if (ascii_lower(path_text(path_from_text(path).extension())) == ".edl" || looks_like_edl(*bytes))
        return parse_edl(*bytes, default_card_seconds);
    return parse_edit_list(*bytes, default_card_seconds);
}

}  // namespace reel

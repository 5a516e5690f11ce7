#include "command_line.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <string_view>
#include <system_error>

#include <fmt/format.h>

#include "edits/edit_list.h"
#include "edits/time.h"
#include "util/files.h"
#include "util/numbers.h"
#include "util/text.h"

namespace reel {

namespace {

// Walks the argument list; every option takes its values from here.
class ArgumentCursor {
public:
    explicit ArgumentCursor(const std::vector<std::string>& args) : args_(args) {}

    bool done() const { return next_ >= args_.size(); }
    std::size_t position() const { return next_; }
    const std::string& take() { return args_[next_++]; }

    // The next `count` arguments as the values of `option`, verbatim (even when
    // they begin with "-"); fails when the list ends too early.
    Result<std::vector<std::string>> values(const std::string& option, std::size_t count) {
        if (args_.size() - next_ < count) return fail(fmt::format("{} needs a value", option));
        std::vector<std::string> taken(args_.begin() + static_cast<std::ptrdiff_t>(next_),
                                       args_.begin() + static_cast<std::ptrdiff_t>(next_ + count));
        next_ += count;
        return taken;
    }

private:
    const std::vector<std::string>& args_;
    std::size_t next_ = 0;
};

void add_option_edit(CommandLine& cl, EditAction action, std::pair<double, double> range, std::string text) {
    ++cl.optionEditCount;
    Edit edit;
    edit.id = fmt::format("arg{}", cl.optionEditCount);
    edit.origin = EditOrigin::CommandLine;
    edit.text = std::move(text);
    edit.start = range.first;
    edit.end = range.second;
    edit.cardSeconds = cl.cardSeconds;
    edit.match = cl.match;
    edit.enabled = true;
    edit.action = action;
    cl.edits.push_back(std::move(edit));
}

// The options besides the edit kinds' and the containers', for telling a
// one-dash slip ("-remove") from a movie.
constexpr std::string_view other_options[] = {
    "--edits", "--card-seconds", "--match", "--exact", "--out", "--keep-temp", "--probe", "--quiet",
    "--frame", "--clip",         "--help",  "--serve", "--port",    "--root",  "--mute-words", "--words-track",
};

bool is_option_name(std::string_view name) {
    return std::ranges::find(other_options, name) != std::end(other_options) ||
           std::ranges::any_of(edit_kinds(), [name](const EditKind& k) { return k.option == name; }) ||
           std::ranges::any_of(output_containers(), [name](const OutputContainer& c) { return c.option == name; });
}

// The edit kind whose option `name` is; none for other names.
const EditKind* edit_option(std::string_view name) {
    const auto kinds = edit_kinds();
    const auto found = std::ranges::find(kinds, name, &EditKind::option);
    return found != kinds.end() ? &*found : nullptr;
}

std::string unknown_option(const std::string& arg) {
    const std::string doubled = "-" + arg;
    if (!starts_with(arg, "--") && is_option_name(doubled))
        return message_with_usage(fmt::format("unknown option {} (did you mean {}?)", arg, doubled));
    return message_with_usage(fmt::format("unknown option {}", arg));
}

bool names_a_file(const std::string& arg) {
    std::error_code ec;
    return !arg.empty() && std::filesystem::exists(path_from_text(arg), ec);
}

// "card text with spaces needs quotes ...": the option at `option_at`, its range,
// and its text with the words after it that name no file, quoted as one.
std::string unquoted_card_text(const std::vector<std::string>& args, std::size_t option_at, const std::string& word) {
    std::string text = args[option_at + 2];
    for (std::size_t i = option_at + 3; i < args.size() && !starts_with(args[i], "-") && !names_a_file(args[i]); ++i)
        text += " " + args[i];
    return fmt::format("card text with spaces needs quotes ('{}' is no file): {} {} \"{}\"", word, args[option_at],
                       args[option_at + 1], text);
}

// Reads one option (already taken from the cursor) into the command line.
Result<void> read_option(const std::string& option, ArgumentCursor& cursor, CommandLine& cl, const WarningSink& warn) {
    if (const EditKind* kind = edit_option(option)) {
        const auto values = cursor.values(option, kind->takesText ? 2 : 1);
        if (!values) return fail(values.error());
        const auto range = parse_range((*values)[0]);
        if (!range) return fail(range.error());
        add_option_edit(cl, kind->action, *range, kind->takesText ? (*values)[1] : std::string());
        return {};
    }
    for (const OutputContainer& container : output_containers()) {
        if (container.option.empty() || option != container.option) continue;
        cl.container = container;
        return {};
    }

    if (option == "--edits") {
        const auto values = cursor.values(option, 1);
        if (!values) return fail(values.error());
        auto list = read_edit_list((*values)[0], cl.cardSeconds);
        if (!list) return fail(list.error());
        for (const std::string& message : list->messages) {
            warn(message);
            cl.warnings.push_back(message);
        }
        std::ranges::move(list->edits, std::back_inserter(cl.edits));
        return {};
    }
    if (option == "--card-seconds") {
        const auto values = cursor.values(option, 1);
        if (!values) return fail(values.error());
        // A card of infinite or undefined length cannot be rendered; such a value
        // is refused like any other non-number.
        const auto seconds = read_number((*values)[0]);
        if (!seconds || !std::isfinite(*seconds)) return fail("--card-seconds needs a number");
        if (!card_seconds_in_range(*seconds))
            return fail(fmt::format("--card-seconds must be {}, not '{}'", card_seconds_range_text(), (*values)[0]));
        cl.cardSeconds = *seconds;
        return {};
    }
    if (option == "--out") {
        const auto values = cursor.values(option, 1);
        if (!values) return fail(values.error());
        cl.out = (*values)[0];
        return {};
    }
    if (option == "--mute-words") {
        const auto values = cursor.values(option, 1);
        if (!values) return fail(values.error());
        cl.muteWords = (*values)[0];
        return {};
    }
    if (option == "--words-track") {
        const auto values = cursor.values(option, 1);
        if (!values) return fail(values.error());
        const auto track = parse_int64((*values)[0]);
        if (!track || *track < 1) return fail("--words-track needs a subtitle track number: 1 for the first");
        cl.wordsTrack = static_cast<std::size_t>(*track);
        return {};
    }
    if (option == "--port") {
        const auto values = cursor.values(option, 1);
        if (!values) return fail(values.error());
        const auto port = parse_int64((*values)[0]);
        if (!port || *port < 0 || *port > 65535) return fail("--port needs a number from 0 to 65535");
        cl.port = static_cast<int>(*port);
        return {};
    }
    if (option == "--root") {
        const auto values = cursor.values(option, 1);
        if (!values) return fail(values.error());
        cl.roots.push_back((*values)[0]);
        return {};
    }
    if (option == "--frame") {
        const auto values = cursor.values(option, 2);
        if (!values) return fail(values.error());
        const auto time = parse_time((*values)[0]);
        if (!time) return fail(bad_time_message((*values)[0]));
        cl.frame = FrameRequest{*time, (*values)[1]};
        return {};
    }
    if (option == "--clip") {
        const auto values = cursor.values(option, 2);
        if (!values) return fail(values.error());
        const auto range = parse_range((*values)[0]);
        if (!range) return fail(range.error());
        cl.clip = ClipRequest{range->first, range->second - range->first, (*values)[1]};
        return {};
    }

    const std::pair<std::string_view, bool CommandLine::*> flags[] = {
        {"--match", &CommandLine::match}, {"--exact", &CommandLine::exact}, {"--keep-temp", &CommandLine::keepTemp}, {"--probe", &CommandLine::probe},
        {"--quiet", &CommandLine::quiet}, {"--serve", &CommandLine::serve},
    };
    for (const auto& [name, member] : flags) {
        if (option == name) {
            cl.*member = true;
            return {};
        }
    }
    return fail(unknown_option(option));
}

}  // namespace

namespace {

// "--card A-B TEXT": an edit option with what it takes.
std::string edit_option_usage(const EditKind& kind) {
    return fmt::format("{} A-B{}", kind.option, kind.takesText ? " TEXT" : "");
}

std::string help_line(std::string_view option, std::string_view help) {
    return fmt::format("  {:<18}{}\n", option, help);
}

std::string build_usage_text() {
    std::string text = "reelmender-cli MOVIE [--edits list.csv]";
    for (const EditKind& kind : edit_kinds()) text += fmt::format(" [{}]", edit_option_usage(kind));
    text += "\n                     [--card-seconds N | --match] [--exact] [--out FILE]";
    for (const OutputContainer& container : output_containers())
        if (!container.option.empty()) text += fmt::format(" [{}]", container.option);
    text += " [--keep-temp] [--probe] [--quiet]\n";
    text += "reelmender-cli --serve [--port N] [--root DIR]...\n\n";
    text += help_line("--edits FILE", "CSV edit list (start,end,action,text,card_seconds,enabled)");
    text += help_line("--mute-words FILE", "mute the subtitle cues that hold a word of the list; mask the words");
    text += help_line("--words-track N",
                      "subtitle track to find the words in, from 1 (default: the default text one)");
    for (const EditKind& kind : edit_kinds()) text += help_line(edit_option_usage(kind), kind.help);
    text += help_line("--exact", "cut on the exact frames (encodes up to a keyframe interval per cut again)");
    text += help_line("--out FILE", "output path (default: next to the movie, ' (edited)' suffix)");
    for (const OutputContainer& container : output_containers())
        if (!container.option.empty()) text += help_line(container.option, container.help);
    text += help_line("--probe", "print stream information and exit");
    text += help_line("--frame T FILE", "save the frame at time T as a JPEG (preview helper)");
    text += help_line("--clip A-B FILE", "save a small H.264/AAC proxy of the range as MP4 (preview helper)");
    text += help_line("--serve", "serve the web front end on 127.0.0.1 until interrupted");
    text += help_line("--port N", "port of --serve (default 8765; 0 picks a free one)");
    text += help_line("--root DIR", "folder the page may open and write in (repeatable; default: the current one)");
    text += "Times: H:MM:SS.mmm, MM:SS or seconds.\n";
    return text;
}

}  // namespace

const std::string& usage_text() {
    static const std::string text = build_usage_text();
    return text;
}

std::string message_with_usage(std::string_view first_line) {
    const std::string& usage = usage_text();
    return fmt::format("{}\n{}", first_line, std::string_view(usage).substr(0, usage.size() - 1));
}

bool wants_help(const std::vector<std::string>& args) {
    return args.empty() || std::ranges::any_of(args, [](const std::string& a) { return a == "-h" || a == "--help"; });
}

Result<CommandLine> parse_command_line(const std::vector<std::string>& args, const WarningSink& warn) {
    CommandLine cl;
    ArgumentCursor cursor(args);
    // Where the last --card or --text stands while only words that name no
    // file have followed its text; `none` otherwise.
    constexpr std::size_t none = SIZE_MAX;
    std::size_t card_option = none;
    while (!cursor.done()) {
        const std::size_t at = cursor.position();
        const std::string& arg = cursor.take();
        if (starts_with(arg, "--")) {
            if (auto read = read_option(arg, cursor, cl, warn); !read) return fail(read.error());
            const EditKind* kind = edit_option(arg);
            card_option = kind && kind->takesText ? at : none;
            continue;
        }
        const bool file = names_a_file(arg);
        if (starts_with(arg, "-") && !file) return fail(unknown_option(arg));
        if (card_option != none && !file) return fail(unquoted_card_text(args, card_option, arg));
        card_option = none;
        if (cl.movie) return fail(fmt::format("more than one movie given: '{}' and '{}'", *cl.movie, arg));
        cl.movie = arg;
    }
    if (cl.serve) {
        // The page opens movies and keeps its own edit list.
        if (cl.movie || !cl.edits.empty() || cl.muteWords)
            return fail("--serve takes no movie and no edits: open them in the page");
        return cl;
    }
    if (cl.port || !cl.roots.empty()) return fail(fmt::format("{} works only with --serve", cl.port ? "--port" : "--root"));
    if (!cl.movie) return fail(message_with_usage("no movie given"));
    if (cl.wordsTrack && !cl.muteWords) return fail("--words-track works only with --mute-words");
    apply_final_card_settings(cl);
    return cl;
}

void apply_final_card_settings(CommandLine& command_line) {
    for (Edit& edit : command_line.edits) {
        if (edit.action == EditAction::Replace && edit.origin == EditOrigin::CommandLine) {
            edit.cardSeconds = command_line.cardSeconds;
            edit.match = command_line.match;
        }
    }
}

std::filesystem::path default_output_path(const std::string& movie, const OutputContainer& container) {
    std::filesystem::path path = path_from_text(movie);
    const std::string stem = path.has_filename() ? path_text(path.stem()) : std::string("output");
    const std::string name = fmt::format("{} (edited){}", stem, container.extension);
    if (!path.has_filename()) return path / path_from_text(name);
    return path.replace_filename(path_from_text(name));
}

std::filesystem::path output_path(const CommandLine& command_line) {
    if (command_line.out) return path_from_text(*command_line.out);
    return default_output_path(command_line.movie.value_or(std::string()), command_line.container);
}

}  // namespace reel

#include "json_writer.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <vector>

#include <fmt/format.h>

namespace reel {

namespace {

// A streaming writer for the pretty layout: every member or element on a line of
// its own, two blanks per level, empty arrays as "[]".
class JsonWriter {
public:
    std::string take() { return std::move(out_); }

    void begin_object() { open('{'); }
    void end_object() { close('}'); }
    void begin_array() { open('['); }
    void end_array() { close(']'); }

    // Starts an object member; the value written next belongs to it.
    JsonWriter& key(std::string_view name) {
        next_item();
        out_ += json_string(name);
        out_ += ": ";
        pending_key_ = true;
        return *this;
    }

    void text(std::string_view value) { raw(json_string(value)); }
    void number(double value) { raw(json_number(value)); }
    void integer(std::int64_t value) { raw(fmt::format("{}", value)); }
    void unsigned_integer(std::uint64_t value) { raw(fmt::format("{}", value)); }
    void boolean(bool value) { raw(value ? "true" : "false"); }
    void null() { raw("null"); }

    void optional_text(const std::optional<std::string>& value) { value ? text(*value) : null(); }
    void optional_integer(const std::optional<std::int64_t>& value) { value ? integer(*value) : null(); }
    void optional_number(const std::optional<double>& value) { value ? number(*value) : null(); }

private:
    struct Level {
        bool has_items = false;
    };

    // A value either completes a pending member or is an array element.
    void before_value() {
        if (pending_key_) {
            pending_key_ = false;
            return;
        }
        if (!levels_.empty()) next_item();
    }
    void next_item() {
        Level& level = levels_.back();
        out_ += level.has_items ? ",\n" : "\n";
        level.has_items = true;
        indent(levels_.size());
    }
    void raw(std::string_view value) {
        before_value();
        out_ += value;
    }
    void open(char bracket) {
        before_value();
        out_ += bracket;
        levels_.push_back({});
    }
    void close(char bracket) {
        const bool had_items = levels_.back().has_items;
        levels_.pop_back();
        if (had_items) {
            out_ += '\n';
            indent(levels_.size());
        }
        out_ += bracket;
    }
    void indent(std::size_t depth) { out_.append(2 * depth, ' '); }

    std::string out_;
    std::vector<Level> levels_;
    bool pending_key_ = false;
};

void write_video(JsonWriter& w, const VideoStreamInfo& v) {
    w.begin_object();
    w.key("index").unsigned_integer(v.index);
    w.key("codec").text(v.codec);
    w.key("profile").optional_text(v.profile);
    w.key("level").optional_integer(v.level);
    w.key("width").integer(v.width);
    w.key("height").integer(v.height);
    w.key("fpsNum").integer(v.fpsNum);
    w.key("fpsDen").integer(v.fpsDen);
    w.key("pixFmt").optional_text(v.pixFmt);
    w.key("colorRange").optional_text(v.colorRange);
    w.key("colorSpace").optional_text(v.colorSpace);
    w.key("colorTransfer").optional_text(v.colorTransfer);
    w.key("colorPrimaries").optional_text(v.colorPrimaries);
    w.key("chromaLocation").optional_text(v.chromaLocation);
    w.key("sar").optional_text(v.sar);
    w.key("fieldOrder").optional_text(v.fieldOrder);
    w.key("bitRate").optional_integer(v.bitRate);
    w.key("nbFrames").optional_integer(v.nbFrames);
    w.end_object();
}

void write_audio(JsonWriter& w, const AudioStreamInfo& a) {
    w.begin_object();
    w.key("index").unsigned_integer(a.index);
    w.key("codec").text(a.codec);
    w.key("profile").optional_text(a.profile);
    w.key("channels").integer(a.channels);
    w.key("channelLayout").optional_text(a.channelLayout);
    w.key("sampleRate").integer(a.sampleRate);
    w.key("bitRate").optional_integer(a.bitRate);
    w.key("language").optional_text(a.language);
    w.key("title").optional_text(a.title);
    w.key("default").boolean(a.isDefault);
    w.end_object();
}

void write_subtitle(JsonWriter& w, const SubtitleStreamInfo& s) {
    w.begin_object();
    w.key("index").unsigned_integer(s.index);
    w.key("codec").text(s.codec);
    w.key("language").optional_text(s.language);
    w.key("title").optional_text(s.title);
    w.key("default").boolean(s.isDefault);
    w.key("forced").boolean(s.forced);
    w.key("text").boolean(s.text);
    w.end_object();
}

void write_chapter(JsonWriter& w, const ChapterInfo& c) {
    w.begin_object();
    w.key("start").number(c.start);
    w.key("end").number(c.end);
    w.key("title").text(c.title);
    w.end_object();
}

void write_applied(JsonWriter& w, const AppliedEdit& a) {
    w.begin_object();
    w.key("id").text(a.id);
    w.key("kind").text(action_name(a.action));
    w.key("requestedStart").number(a.requestedStart);
    w.key("requestedEnd").number(a.requestedEnd);
    w.key("actualStart").number(a.actualStart);
    w.key("actualEnd").number(a.actualEnd);
    w.key("cardSeconds").optional_number(a.cardSeconds);
    w.end_object();
}

template <class T, class Each>
void write_array(JsonWriter& w, const std::vector<T>& items, Each each) {
    w.begin_array();
    for (const T& item : items) each(w, item);
    w.end_array();
}

}  // namespace

std::string json_number(double value) {
    if (!std::isfinite(value)) return "null";
    // Shortest round-trip digits in scientific form, "d.ddde±x", then laid out.
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
    std::string_view sci(buffer, static_cast<std::size_t>(result.ptr - buffer));

    std::string out;
    if (sci.front() == '-') {
        out += '-';
        sci.remove_prefix(1);
    }
    const std::size_t e = sci.find('e');
    std::string digits;
    for (const char c : sci.substr(0, e))
        if (c != '.') digits += c;
    const int exponent = std::atoi(std::string(sci.substr(e + 1)).c_str());
    // to_chars gives no trailing zeros except for zero itself ("0e+00").
    const int n = static_cast<int>(digits.size());
    const int k = exponent + 1;  // value = 0.digits x 10^k

    if (k > -5 && k <= 16) {
        if (k <= 0) {
            out += "0.";
            out.append(static_cast<std::size_t>(-k), '0');
            out += digits;
        } else if (k >= n) {
            out += digits;
            out.append(static_cast<std::size_t>(k - n), '0');
            out += ".0";
        } else {
            out += digits.substr(0, static_cast<std::size_t>(k));
            out += '.';
            out += digits.substr(static_cast<std::size_t>(k));
        }
    } else {
        out += digits.front();
        if (n > 1) {
            out += '.';
            out += digits.substr(1);
        }
        out += fmt::format("e{}", k - 1);
    }
    return out;
}

std::string json_string(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    out += '"';
    for (const char c : text) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\b': out += "\\b"; break;
            case '\f': out += "\\f"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    out += fmt::format("\\u{:04x}", static_cast<unsigned>(static_cast<unsigned char>(c)));
                } else {
                    out += c;
                }
        }
    }
    out += '"';
    return out;
}

std::string write_probe_json(const MediaInfo& info) {
    JsonWriter w;
    w.begin_object();
    w.key("path").text(info.path);
    w.key("fileName").text(info.fileName);
    w.key("container").text(info.container);
    w.key("duration").number(info.duration);
    w.key("size").unsigned_integer(info.size);
    w.key("title").optional_text(info.title);
    if (info.video) {
        w.key("video");
        write_video(w, *info.video);
    } else {
        w.key("video").null();
    }
    w.key("audio");
    write_array(w, info.audio, write_audio);
    w.key("subtitles");
    write_array(w, info.subtitles, write_subtitle);
    w.key("chapters");
    write_array(w, info.chapters, write_chapter);
    w.end_object();
    return w.take();
}

std::string write_run_report_json(const RunReport& report) {
    JsonWriter w;
    w.begin_object();
    w.key("output").text(report.output);
    w.key("duration").number(report.duration);
    w.key("originalDuration").number(report.originalDuration);
    w.key("warnings");
    write_array(w, report.warnings, [](JsonWriter& writer, const std::string& warning) { writer.text(warning); });
    w.key("applied");
    write_array(w, report.applied, write_applied);
    w.key("secondsEncoded").number(report.secondsEncoded);
    w.end_object();
    return w.take();
}

}  // namespace reel

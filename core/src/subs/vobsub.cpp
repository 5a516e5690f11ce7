// Moving VobSub pictures onto the edited timeline: the .idx carries the times,
// the .sub the display lengths.
#include "subs/vobsub.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "util/numbers.h"
#include "util/text.h"

namespace reel {

namespace {

// A subpicture unit's delays count in units of 1024 ticks of the 90 kHz clock.
constexpr double kDelayUnitSeconds = 1024.0 / 90000.0;

// --- .idx ---------------------------------------------------------------------

struct IdxLine {
    std::string_view body;    // without its line end
    std::string_view ending;  // "\n", "\r\n" or nothing
};

std::vector<IdxLine> idx_lines(std::string_view text) {
    std::vector<IdxLine> lines;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t end = text.find('\n', pos);
        const std::size_t stop = end == std::string_view::npos ? text.size() : end;
        std::size_t body_end = stop;
        if (body_end > pos && text[body_end - 1] == '\r') --body_end;
        const std::size_t next = end == std::string_view::npos ? text.size() : end + 1;
        lines.push_back({text.substr(pos, body_end - pos), text.substr(body_end, next - body_end)});
        pos = next;
    }
    return lines;
}

// "HH:MM:SS:mmm", optionally signed: seconds.
std::optional<double> parse_idx_time(std::string_view text) {
    text = trim(text);
    double sign = 1;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        sign = text.front() == '-' ? -1 : 1;
        text.remove_prefix(1);
    }
    const auto parts = split(text, ':');
    if (parts.size() != 4) return std::nullopt;
    std::int64_t values[4];
    for (std::size_t k = 0; k < 4; ++k) {
        const auto value = parse_int64(parts[k]);
        if (!value || *value < 0 || *value > 10'000'000) return std::nullopt;
        values[k] = *value;
    }
    return sign * (static_cast<double>(values[0]) * 3600 + static_cast<double>(values[1]) * 60 +
                   static_cast<double>(values[2]) + static_cast<double>(values[3]) / 1000);
}

std::string format_idx_time(double seconds) {
    const std::int64_t ms = seconds > 0 ? round_half_away(seconds * 1000) : 0;
    return fmt::format("{:02}:{:02}:{:02}:{:03}", ms / 3600000, (ms / 60000) % 60, (ms / 1000) % 60, ms % 1000);
}

std::optional<std::uint64_t> parse_hex(std::string_view text) {
    text = trim(text);
    if (text.empty() || text.size() > 15) return std::nullopt;
    std::uint64_t value = 0;
    for (char c : text) {
        const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        if (digit < 0) return std::nullopt;
        value = value * 16 + static_cast<std::uint64_t>(digit);
    }
    return value;
}

// The value of a "key: value" line whose key is `key`, or absent.
std::optional<std::string_view> idx_value(std::string_view line, std::string_view key) {
    if (!line.starts_with(key) || line.size() <= key.size() || line[key.size()] != ':') return std::nullopt;
    return line.substr(key.size() + 1);
}

struct IdxEntry {
    std::size_t line = 0;
    std::size_t section = 0;  // counts "id:" lines
    double time = 0;          // with the delays before it
    std::uint64_t filepos = 0;
    std::size_t timeOffset = 0, timeSize = 0;  // the time text within the line
};

// The timestamp lines that read; absent for lines that are something else.
std::optional<IdxEntry> read_entry(std::string_view line) {
    const auto value = idx_value(line, "timestamp");
    if (!value) return std::nullopt;
    const std::size_t comma = value->find(',');
    if (comma == std::string_view::npos) return std::nullopt;
    const auto time = parse_idx_time(value->substr(0, comma));
    const auto filepos_field = idx_value(trim(value->substr(comma + 1)), "filepos");
    const auto filepos = filepos_field ? parse_hex(*filepos_field) : std::nullopt;
    if (!time || !filepos) return std::nullopt;
    IdxEntry entry;
    entry.time = *time;
    entry.filepos = *filepos;
    const std::string_view time_text = trim(value->substr(0, comma));
    entry.timeOffset = static_cast<std::size_t>(time_text.data() - line.data());
    entry.timeSize = time_text.size();
    return entry;
}

// --- .sub ---------------------------------------------------------------------

unsigned byte_at(std::string_view bytes, std::size_t at) { return static_cast<unsigned char>(bytes[at]); }
std::size_t u16_at(std::string_view bytes, std::size_t at) { return byte_at(bytes, at) << 8 | byte_at(bytes, at + 1); }

// A unit gathered from the private-stream packets it is spread over, with
// where each of its bytes lies in the .sub.
struct GatheredUnit {
    std::string bytes;
    std::vector<std::pair<std::size_t, std::size_t>> chunks;  // .sub offset, length

    std::size_t sub_offset(std::size_t at) const {
        for (const auto& [offset, length] : chunks) {
            if (at < length) return offset + at;
            at -= length;
        }
        return std::numeric_limits<std::size_t>::max();
    }
};

std::optional<GatheredUnit> gather_unit(std::string_view sub, std::uint64_t filepos) {
    if (filepos >= sub.size()) return std::nullopt;
    GatheredUnit unit;
    std::size_t pos = static_cast<std::size_t>(filepos);
    int substream = -1;
    std::size_t need = 0;
    while (pos + 6 <= sub.size()) {
        if (sub[pos] != 0 || sub[pos + 1] != 0 || sub[pos + 2] != 1) return std::nullopt;
        const unsigned code = byte_at(sub, pos + 3);
        if (code == 0xBA) {  // pack header: MPEG-2 has stuffing, MPEG-1 a fixed size
            if (pos + 14 > sub.size()) return std::nullopt;
            pos += (byte_at(sub, pos + 4) & 0xC0) == 0x40 ? 14 + (byte_at(sub, pos + 13) & 0x07) : 12;
            continue;
        }
        if (code == 0xB9) return std::nullopt;  // program end before the unit was whole
        const std::size_t end = pos + 6 + u16_at(sub, pos + 4);
        if (end > sub.size()) return std::nullopt;
        if (code == 0xBD && pos + 9 <= end && (byte_at(sub, pos + 6) & 0xC0) == 0x80) {
            const std::size_t payload = pos + 9 + byte_at(sub, pos + 8);
            if (payload < end) {
                const int id = static_cast<int>(byte_at(sub, payload));
                if (substream < 0 && (id & 0xE0) == 0x20) substream = id;
                if (id == substream) {
                    const std::size_t data = payload + 1;
                    if (unit.bytes.empty()) {
                        if (end - data < 4) return std::nullopt;
                        need = u16_at(sub, data);
                        if (need < 4) return std::nullopt;
                    }
                    const std::size_t take = std::min(end - data, need - unit.bytes.size());
                    unit.chunks.emplace_back(data, take);
                    unit.bytes.append(sub.substr(data, take));
                    if (unit.bytes.size() == need) return unit;
                }
            }
            // The first private-stream packet from the position on must begin the unit.
            if (substream < 0) return std::nullopt;
        }
        pos = end;
    }
    return std::nullopt;
}

// Where in the unit the delay of its stop command's control sequence sits.
std::optional<std::size_t> stop_delay_offset(std::string_view unit) {
    std::size_t sequence = u16_at(unit, 2);
    // Each sequence lies after the one before; the last points at itself. Real
    // units have two or three.
    for (int guard = 0; guard < 64; ++guard) {
        if (sequence + 4 > unit.size()) return std::nullopt;
        std::size_t p = sequence + 4;
        bool stops = false;
        bool ended = false;
        while (!ended && p < unit.size()) {
            const unsigned command = byte_at(unit, p++);
            switch (command) {
                case 0x00: case 0x01: break;
                case 0x02: stops = true; break;
                case 0x03: case 0x04: p += 2; break;
                case 0x05: p += 6; break;
                case 0x06: p += 4; break;
                case 0x07:
                    if (p + 2 > unit.size()) return std::nullopt;
                    p += u16_at(unit, p);
                    break;
                case 0xFF: ended = true; break;
                default: return std::nullopt;
            }
        }
        if (stops) return sequence;
        const std::size_t next = u16_at(unit, sequence + 2);
        if (next <= sequence) return std::nullopt;
        sequence = next;
    }
    return std::nullopt;
}

}  // namespace

IdxRetiming retime_idx(std::string_view text, const Timeline& timeline, const PictureLength& length_of) {
    const auto lines = idx_lines(text);
    std::vector<IdxEntry> entries;
    std::size_t section = 0;
    double delay = 0;
    std::vector<bool> dropped(lines.size(), false);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string_view line = lines[i].body;
        if (idx_value(line, "id")) {
            ++section;
            delay = 0;
        } else if (const auto value = idx_value(line, "delay")) {
            delay += parse_idx_time(*value).value_or(0);
            dropped[i] = true;
        } else if (auto entry = read_entry(line)) {
            entry->line = i;
            entry->section = section;
            entry->time += delay;
            entries.push_back(*entry);
        } else if (idx_value(line, "timestamp")) {
            dropped[i] = true;  // a picture that cannot be placed
        }
    }

    IdxRetiming out;
    std::vector<std::string> rewritten(lines.size());
    double last_time = 0;
    std::size_t last_section = 0;
    for (std::size_t k = 0; k < entries.size(); ++k) {
        const IdxEntry& entry = entries[k];
        const auto length = length_of ? length_of(entry.filepos) : std::nullopt;
        double end = std::numeric_limits<double>::infinity();
        if (length) end = entry.time + *length;
        else if (k + 1 < entries.size() && entries[k + 1].section == entry.section) end = entries[k + 1].time;
        const auto mapped = map_range(timeline, entry.time, end);
        if (!mapped) {
            dropped[entry.line] = true;
            continue;
        }
        // Keep the pictures of a track in order however the pieces were measured.
        if (entry.section != last_section) last_time = 0;
        const double start = std::max(mapped->first, last_time);
        last_time = start;
        last_section = entry.section;
        if (length && mapped->second - mapped->first < *length - 0.001)
            out.shortened.push_back({entry.filepos, std::max(mapped->second - start, 0.0)});
        std::string line(lines[entry.line].body);
        line.replace(entry.timeOffset, entry.timeSize, format_idx_time(start));
        rewritten[entry.line] = std::move(line);
    }

    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (dropped[i]) continue;
        out.text += rewritten[i].empty() ? std::string(lines[i].body) : rewritten[i];
        out.text += lines[i].ending;
    }
    return out;
}

std::optional<double> spu_length(std::string_view sub, std::uint64_t filepos) {
    const auto unit = gather_unit(sub, filepos);
    if (!unit) return std::nullopt;
    const auto offset = stop_delay_offset(unit->bytes);
    if (!offset) return std::nullopt;
    return static_cast<double>(u16_at(unit->bytes, *offset)) * kDelayUnitSeconds;
}

bool limit_spu_length(std::string& sub, std::uint64_t filepos, double length) {
    const auto unit = gather_unit(sub, filepos);
    if (!unit) return false;
    const auto offset = stop_delay_offset(unit->bytes);
    if (!offset) return false;
    const double units = std::floor(std::max(length, 0.0) / kDelayUnitSeconds);
    const std::size_t current = u16_at(unit->bytes, *offset);
    const std::size_t limited = std::min<std::size_t>(current, units < 65535 ? static_cast<std::size_t>(units) : 65535);
    sub[unit->sub_offset(*offset)] = static_cast<char>(limited >> 8);
    sub[unit->sub_offset(*offset + 1)] = static_cast<char>(limited & 0xFF);
    return true;
}

Result<VobSubFiles> retime_vobsub(std::string_view idx, std::string sub, const Timeline& timeline) {
    if (!idx.starts_with("# VobSub index file")) return fail("not a VobSub index (\"# VobSub index file\" expected)");
    const std::string_view sub_view = sub;
    auto retimed = retime_idx(idx, timeline, [&](std::uint64_t filepos) { return spu_length(sub_view, filepos); });
    for (const ShortenedPicture& picture : retimed.shortened) limit_spu_length(sub, picture.filepos, picture.length);
    return VobSubFiles{std::move(retimed.text), std::move(sub)};
}

}  // namespace reel

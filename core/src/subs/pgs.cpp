// Reading PGS display sets and moving them onto the edited timeline.
#include "subs/pgs.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <map>

namespace reel {

namespace {

constexpr std::size_t kHeaderSize = 13;  // "PG", PTS, DTS, type, size
constexpr std::size_t kWindowSize = 9;   // id, x, y, width, height
constexpr std::size_t kPaletteEntrySize = 5;
constexpr std::size_t kMaxWindowsPerSegment = 255;  // the count is one byte

unsigned byte_at(std::string_view bytes, std::size_t at) { return static_cast<unsigned char>(bytes[at]); }
std::uint16_t u16_at(std::string_view bytes, std::size_t at) {
    return static_cast<std::uint16_t>(byte_at(bytes, at) << 8 | byte_at(bytes, at + 1));
}
std::uint32_t u32_at(std::string_view bytes, std::size_t at) {
    return static_cast<std::uint32_t>(u16_at(bytes, at)) << 16 | u16_at(bytes, at + 2);
}
void put_u8(std::string& out, unsigned value) { out += static_cast<char>(value & 0xFF); }
void put_u16(std::string& out, unsigned value) {
    put_u8(out, value >> 8);
    put_u8(out, value);
}
void put_u32(std::string& out, std::uint32_t value) {
    put_u16(out, value >> 16);
    put_u16(out, value & 0xFFFF);
}

std::string segment_name(std::uint8_t type) {
    switch (type) {
        case pgs::kPalette: return "palette";
        case pgs::kObject: return "object";
        case pgs::kComposition: return "composition";
        case pgs::kWindow: return "window";
        case pgs::kEnd: return "end";
        default: return fmt::format("0x{:02X}", type);
    }
}

// Checks that a segment's payload holds what its own fields declare.
Result<void> check_payload(const PgsSegment& segment) {
    const std::string_view p = segment.payload;
    switch (segment.type) {
        case pgs::kComposition:
            if (auto parsed = parse_composition(p); !parsed) return fail(parsed.error());
            return {};
        case pgs::kWindow:
            if (p.empty() || p.size() < 1 + kWindowSize * byte_at(p, 0)) return fail("window segment too short");
            return {};
        case pgs::kPalette:
            if (p.size() < 2) return fail("palette segment too short");
            return {};
        case pgs::kObject:
            // Id, version, sequence flags; the first fragment adds length, width and height.
            if (p.size() < 4 || ((byte_at(p, 3) & 0x80) && p.size() < 11)) return fail("object segment too short");
            return {};
        case pgs::kEnd: return {};
        default: return fail(fmt::format("unknown segment type {}", segment_name(segment.type)));
    }
}

std::uint32_t seconds_to_ticks(double seconds) {
    const double ticks = seconds * pgs::kTicksPerSecond;
    if (!(ticks > 0)) return 0;
    constexpr double top = std::numeric_limits<std::uint32_t>::max();
    if (ticks >= top) return std::numeric_limits<std::uint32_t>::max();
    return static_cast<std::uint32_t>(std::llround(ticks));
}

std::uint32_t clamp_ticks(std::int64_t ticks) {
    return static_cast<std::uint32_t>(std::clamp<std::int64_t>(ticks, 0, std::numeric_limits<std::uint32_t>::max()));
}

// What a decoder holds between display sets: the windows, palettes and objects
// defined since the epoch began.
struct Definitions {
    std::map<std::uint8_t, std::string> windows;  // id -> the window's 9 bytes
    struct Palette {
        std::uint8_t version = 0;
        std::map<std::uint8_t, std::string> entries;  // entry id -> Y, Cr, Cb, alpha
    };
    std::map<std::uint8_t, Palette> palettes;
    std::map<std::uint16_t, std::vector<std::string>> objects;  // id -> payloads of its latest definition

    void apply(const PgsDisplaySet& set) {
        if (set.composition.state == pgs::kEpochStart) *this = {};
        for (const PgsSegment& segment : set.segments) {
            const std::string_view p = segment.payload;
            if (segment.type == pgs::kWindow) {
                for (std::size_t k = 0; k < byte_at(p, 0); ++k) {
                    const auto entry = p.substr(1 + k * kWindowSize, kWindowSize);
                    windows[static_cast<std::uint8_t>(entry[0])] = std::string(entry);
                }
            } else if (segment.type == pgs::kPalette) {
                // Entries a palette segment leaves out keep their values.
                Palette& palette = palettes[static_cast<std::uint8_t>(p[0])];
                palette.version = static_cast<std::uint8_t>(p[1]);
                for (std::size_t at = 2; at + kPaletteEntrySize <= p.size(); at += kPaletteEntrySize)
                    palette.entries[static_cast<std::uint8_t>(p[at])] = std::string(p.substr(at + 1, 4));
            } else if (segment.type == pgs::kObject) {
                const std::uint16_t id = u16_at(p, 0);
                if (byte_at(p, 3) & 0x80) {
                    objects[id] = {std::string(p)};
                } else if (auto found = objects.find(id); found != objects.end()) {
                    found->second.emplace_back(p);
                }
                // A continuation of an object never begun defines nothing.
            }
        }
    }

    std::vector<PgsSegment> window_segments(const PgsSegment& stamp) const {
        std::vector<PgsSegment> out;
        auto it = windows.begin();
        while (it != windows.end()) {
            PgsSegment segment{stamp.pts, stamp.dts, pgs::kWindow, std::string(1, '\0')};
            std::size_t count = 0;
            for (; it != windows.end() && count < kMaxWindowsPerSegment; ++it, ++count) segment.payload += it->second;
            segment.payload[0] = static_cast<char>(count);
            out.push_back(std::move(segment));
        }
        return out;
    }
};

// The set rewritten as an epoch start that carries every definition in force.
PgsDisplaySet complete_set(const PgsDisplaySet& set, const Definitions& in_force) {
    const PgsSegment& stamp = set.segments.front();
    PgsDisplaySet out;
    out.composition = set.composition;
    out.composition.state = pgs::kEpochStart;
    out.composition.paletteUpdateOnly = false;
    out.segments.push_back({stamp.pts, stamp.dts, pgs::kComposition, composition_payload(out.composition)});
    for (auto& window : in_force.window_segments(stamp)) out.segments.push_back(std::move(window));
    for (const auto& [id, palette] : in_force.palettes) {
        PgsSegment segment{stamp.pts, stamp.dts, pgs::kPalette, {}};
        put_u8(segment.payload, id);
        put_u8(segment.payload, palette.version);
        for (const auto& [entry, value] : palette.entries) {
            put_u8(segment.payload, entry);
            segment.payload += value;
        }
        out.segments.push_back(std::move(segment));
    }
    for (const auto& [id, fragments] : in_force.objects)
        for (const auto& fragment : fragments) out.segments.push_back({stamp.pts, stamp.dts, pgs::kObject, fragment});
    out.segments.push_back({stamp.pts, stamp.dts, pgs::kEnd, {}});
    return out;
}

// A set that shows nothing, ending the picture of `shown`.
PgsDisplaySet clearing_set(const PgsDisplaySet& shown, const Definitions& emitted, std::uint32_t at) {
    const PgsSegment& shown_stamp = shown.segments.front();
    const PgsSegment stamp{at, shown_stamp.dts == 0 ? 0 : at, 0, {}};
    PgsDisplaySet out;
    out.composition = shown.composition;
    out.composition.state = pgs::kNormal;
    out.composition.paletteUpdateOnly = false;
    out.composition.placements.clear();
    out.segments.push_back({stamp.pts, stamp.dts, pgs::kComposition, composition_payload(out.composition)});
    for (auto& window : emitted.window_segments(stamp)) out.segments.push_back(std::move(window));
    out.segments.push_back({stamp.pts, stamp.dts, pgs::kEnd, {}});
    return out;
}

// Moves every segment of `set` so that it is presented at `at`, keeping each
// segment's distance to the composition; decoding times of 0 (not given) stay 0.
void move_set(PgsDisplaySet& set, std::uint32_t at, std::uint16_t number) {
    const std::int64_t shift = static_cast<std::int64_t>(at) - set.pts();
    for (PgsSegment& segment : set.segments) {
        segment.pts = clamp_ticks(segment.pts + shift);
        if (segment.dts != 0) segment.dts = std::min(clamp_ticks(segment.dts + shift), segment.pts);
    }
    set.composition.number = number;
    std::string& pcs = set.segments.front().payload;
    pcs[5] = static_cast<char>(number >> 8);
    pcs[6] = static_cast<char>(number & 0xFF);
}

struct Landing {
    std::uint32_t start = 0;
    std::uint32_t end = 0;
};

// Where each set lands, following map_range for the span it is shown.
std::vector<std::optional<Landing>> landings(const std::vector<PgsDisplaySet>& sets, const Timeline& timeline) {
    std::vector<std::optional<Landing>> out(sets.size());
    for (std::size_t i = 0; i < sets.size(); ++i) {
        const double a = sets[i].pts() / pgs::kTicksPerSecond;
        const double b = i + 1 < sets.size() ? sets[i + 1].pts() / pgs::kTicksPerSecond
                                             : std::numeric_limits<double>::infinity();
        const auto mapped = map_range(timeline, a, b);
        if (!mapped) continue;
        // A set that only clears the screen matters where it was shown: after
        // a cut the screen is empty anyway, so one from removed material goes.
        const double tick = 1.0 / pgs::kTicksPerSecond;
        if (sets[i].composition.placements.empty() && !map_range(timeline, a, a + tick)) continue;
        const Landing landing{seconds_to_ticks(mapped->first), seconds_to_ticks(mapped->second)};
        // Less than a tick long: nothing would be seen.
        if (landing.end > landing.start) out[i] = landing;
    }
    return out;
}

}  // namespace

Result<PgsComposition> parse_composition(std::string_view p) {
    if (p.size() < 11) return fail("composition segment too short");
    PgsComposition c;
    c.width = u16_at(p, 0);
    c.height = u16_at(p, 2);
    c.frameRate = static_cast<std::uint8_t>(byte_at(p, 4));
    c.number = u16_at(p, 5);
    c.state = static_cast<std::uint8_t>(byte_at(p, 7) & 0xC0);
    c.paletteUpdateOnly = (byte_at(p, 8) & 0x80) != 0;
    c.paletteId = static_cast<std::uint8_t>(byte_at(p, 9));
    const unsigned count = byte_at(p, 10);
    std::size_t at = 11;
    for (unsigned k = 0; k < count; ++k) {
        if (p.size() < at + 8) return fail("composition segment too short for its objects");
        PgsPlacement o;
        o.objectId = u16_at(p, at);
        o.windowId = static_cast<std::uint8_t>(byte_at(p, at + 2));
        o.flags = static_cast<std::uint8_t>(byte_at(p, at + 3));
        o.x = u16_at(p, at + 4);
        o.y = u16_at(p, at + 6);
        at += 8;
        if (o.flags & 0x80) {
            if (p.size() < at + 8) return fail("composition segment too short for its objects");
            o.cropX = u16_at(p, at);
            o.cropY = u16_at(p, at + 2);
            o.cropWidth = u16_at(p, at + 4);
            o.cropHeight = u16_at(p, at + 6);
            at += 8;
        }
        c.placements.push_back(o);
    }
    return c;
}

std::string composition_payload(const PgsComposition& c) {
    std::string out;
    put_u16(out, c.width);
    put_u16(out, c.height);
    put_u8(out, c.frameRate);
    put_u16(out, c.number);
    put_u8(out, c.state);
    put_u8(out, c.paletteUpdateOnly ? 0x80 : 0);
    put_u8(out, c.paletteId);
    const std::size_t count = std::min<std::size_t>(c.placements.size(), 255);
    put_u8(out, static_cast<unsigned>(count));
    for (std::size_t k = 0; k < count; ++k) {
        const PgsPlacement& o = c.placements[k];
        put_u16(out, o.objectId);
        put_u8(out, o.windowId);
        put_u8(out, o.flags);
        put_u16(out, o.x);
        put_u16(out, o.y);
        if (o.flags & 0x80) {
            put_u16(out, o.cropX);
            put_u16(out, o.cropY);
            put_u16(out, o.cropWidth);
            put_u16(out, o.cropHeight);
        }
    }
    return out;
}

Result<std::vector<PgsDisplaySet>> read_pgs(std::string_view bytes) {
    std::vector<PgsDisplaySet> sets;
    bool open = false;
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        if (bytes.size() - pos < kHeaderSize) return fail(fmt::format("PGS stream cut short at byte {}", pos));
        if (bytes[pos] != 'P' || bytes[pos + 1] != 'G')
            return fail(fmt::format("no PGS segment at byte {} (\"PG\" expected)", pos));
        PgsSegment segment;
        segment.pts = u32_at(bytes, pos + 2);
        segment.dts = u32_at(bytes, pos + 6);
        segment.type = static_cast<std::uint8_t>(byte_at(bytes, pos + 10));
        const std::size_t size = u16_at(bytes, pos + 11);
        if (bytes.size() - pos - kHeaderSize < size) return fail(fmt::format("PGS stream cut short at byte {}", pos));
        segment.payload = std::string(bytes.substr(pos + kHeaderSize, size));
        if (auto checked = check_payload(segment); !checked)
            return fail(fmt::format("PGS segment at byte {}: {}", pos, checked.error()));

        if (segment.type == pgs::kComposition) {
            if (open) return fail(fmt::format("PGS display set before byte {} has no end segment", pos));
            sets.push_back({*parse_composition(segment.payload), {}});
            open = true;
        } else if (!open) {
            return fail(fmt::format("PGS {} segment at byte {} lies outside a display set", segment_name(segment.type), pos));
        }
        sets.back().segments.push_back(std::move(segment));
        if (sets.back().segments.back().type == pgs::kEnd) open = false;
        pos += kHeaderSize + size;
    }
    if (open) return fail("PGS stream ends inside a display set");
    return sets;
}

std::string write_pgs(const std::vector<PgsDisplaySet>& sets) {
    std::string out;
    for (const PgsDisplaySet& set : sets) {
        for (const PgsSegment& segment : set.segments) {
            out += "PG";
            put_u32(out, segment.pts);
            put_u32(out, segment.dts);
            put_u8(out, segment.type);
            put_u16(out, static_cast<unsigned>(segment.payload.size()));
            out += segment.payload;
        }
    }
    return out;
}

Result<std::string> retime_pgs(std::string_view bytes, const Timeline& timeline) {
    auto sets = read_pgs(bytes);
    if (!sets) return fail(sets.error());
    const auto landing = landings(*sets, timeline);

    std::vector<PgsDisplaySet> out;
    Definitions in_force;  // as a decoder that saw every source set holds them
    Definitions emitted;   // as the decoder of the output holds them
    std::optional<std::size_t> previous;  // the last kept set
    bool needs_complete = false;
    std::uint16_t number = sets->empty() ? 0 : sets->front().composition.number;
    std::uint32_t last_tick = 0;

    const auto emit = [&](PgsDisplaySet set, std::uint32_t at) {
        last_tick = std::max(at, last_tick);
        move_set(set, last_tick, number++);
        emitted.apply(set);
        out.push_back(std::move(set));
    };
    // Ends the previous picture at the end of its kept stretch unless the next
    // kept set takes over by then.
    const auto close_previous = [&](std::optional<std::uint32_t> next_start) {
        if (!previous || (*sets)[*previous].composition.placements.empty()) return;
        const std::uint32_t end = landing[*previous]->end;
        if (next_start && *next_start <= end) return;
        emit(clearing_set((*sets)[*previous], emitted, end), end);
        needs_complete = true;
    };

    for (std::size_t i = 0; i < sets->size(); ++i) {
        const PgsDisplaySet& set = (*sets)[i];
        in_force.apply(set);
        if (!landing[i]) {
            needs_complete = true;
            continue;
        }
        if (previous) {
            // Kept neighbours whose distance changed have a cut between them.
            const std::int64_t source_gap = static_cast<std::int64_t>(set.pts()) - (*sets)[*previous].pts();
            const std::int64_t new_gap = static_cast<std::int64_t>(landing[i]->start) - landing[*previous]->start;
            if (std::llabs(source_gap - new_gap) > 1) needs_complete = true;
        }
        close_previous(landing[i]->start);
        const bool rebuild = needs_complete && set.composition.state != pgs::kEpochStart;
        emit(rebuild ? complete_set(set, in_force) : set, landing[i]->start);
        needs_complete = false;
        previous = i;
    }
    close_previous(std::nullopt);
    return write_pgs(out);
}

}  // namespace reel

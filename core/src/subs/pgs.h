#pragma once
// Blu-ray picture subtitles (PGS, the ".sup" stream): reading segments into
// display sets, and rewriting the stream for the edited timeline.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "edits/timeline.h"
#include "util/result.h"

namespace reel {

namespace pgs {
inline constexpr std::uint8_t kPalette = 0x14;      // PDS
inline constexpr std::uint8_t kObject = 0x15;       // ODS
inline constexpr std::uint8_t kComposition = 0x16;  // PCS
inline constexpr std::uint8_t kWindow = 0x17;       // WDS
inline constexpr std::uint8_t kEnd = 0x80;

inline constexpr std::uint8_t kNormal = 0x00;
inline constexpr std::uint8_t kAcquisitionPoint = 0x40;
inline constexpr std::uint8_t kEpochStart = 0x80;

inline constexpr double kTicksPerSecond = 90000.0;
}  // namespace pgs

// One segment: "PG", presentation and decoding time (90 kHz ticks), type, then
// a payload of at most 65535 bytes.
struct PgsSegment {
    std::uint32_t pts = 0;
    std::uint32_t dts = 0;
    std::uint8_t type = 0;
    std::string payload;
    bool operator==(const PgsSegment&) const = default;
};

// One object placed by a composition segment.
struct PgsPlacement {
    std::uint16_t objectId = 0;
    std::uint8_t windowId = 0;
    std::uint8_t flags = 0;  // 0x80: cropped (the crop rectangle follows), 0x40: forced
    std::uint16_t x = 0;
    std::uint16_t y = 0;
    std::uint16_t cropX = 0, cropY = 0, cropWidth = 0, cropHeight = 0;
    bool operator==(const PgsPlacement&) const = default;
};

// The presentation composition segment that opens every display set.
struct PgsComposition {
    std::uint16_t width = 0;
    std::uint16_t height = 0;
    std::uint8_t frameRate = 0x10;
    std::uint16_t number = 0;
    std::uint8_t state = pgs::kNormal;  // kNormal, kAcquisitionPoint or kEpochStart
    bool paletteUpdateOnly = false;
    std::uint8_t paletteId = 0;
    std::vector<PgsPlacement> placements;
    bool operator==(const PgsComposition&) const = default;
};

// A display set: its composition, then every segment from that composition to
// the end segment, both included and as read.
struct PgsDisplaySet {
    PgsComposition composition;
    std::vector<PgsSegment> segments;
    std::uint32_t pts() const { return segments.empty() ? 0 : segments.front().pts; }
};

Result<PgsComposition> parse_composition(std::string_view payload);
std::string composition_payload(const PgsComposition& composition);

// The display sets of a .sup stream. Fails, naming the byte offset, on a
// segment without "PG", a segment cut short, an unknown segment type, a
// segment outside a display set, a set without its end segment, or a
// composition, window, palette or object segment too short for what it declares.
Result<std::vector<PgsDisplaySet>> read_pgs(std::string_view bytes);
// The bytes of the segments of `sets`, in order.
std::string write_pgs(const std::vector<PgsDisplaySet>& sets);

// Rewrites a .sup stream for the edited timeline. Display set k is shown from
// its time to the next set's (the last one without end) and is kept, moved or
// dropped as `map_range` answers for that span; a picture still shown where its
// kept stretch ends gets a set that clears it there. The first set written
// after anything was dropped or after a cut becomes an epoch start that
// carries every window, palette and object in force at that point, so it
// shows correctly although the sets that defined them are gone. Composition
// numbers count up from the first set's; decoding times keep their distance to
// the presentation time (0 stays 0). Fails as `read_pgs` does.
Result<std::string> retime_pgs(std::string_view bytes, const Timeline& timeline);

}  // namespace reel

#pragma once
// The ids of the Matroska elements the run reads and writes.
#include <cstdint>

namespace reel::matroska_id {

constexpr std::uint64_t kEbml = 0x1A45DFA3;
constexpr std::uint64_t kSegment = 0x18538067;
constexpr std::uint64_t kSeekHead = 0x114D9B74;
constexpr std::uint64_t kSeek = 0x4DBB;
constexpr std::uint64_t kSeekId = 0x53AB;
constexpr std::uint64_t kSeekPosition = 0x53AC;
constexpr std::uint64_t kInfo = 0x1549A966;
constexpr std::uint64_t kTimestampScale = 0x2AD7B1;
constexpr std::uint64_t kMuxingApp = 0x4D80;
constexpr std::uint64_t kWritingApp = 0x5741;
constexpr std::uint64_t kTracks = 0x1654AE6B;
constexpr std::uint64_t kTrackEntry = 0xAE;
constexpr std::uint64_t kTrackNumber = 0xD7;
constexpr std::uint64_t kTrackType = 0x83;
constexpr std::uint64_t kTrackUid = 0x73C5;
constexpr std::uint64_t kTags = 0x1254C367;
constexpr std::uint64_t kTag = 0x7373;
constexpr std::uint64_t kTargets = 0x63C0;
constexpr std::uint64_t kTagTrackUid = 0x63C5;
constexpr std::uint64_t kCodecDelay = 0x56AA;
constexpr std::uint64_t kDefaultDuration = 0x23E383;
constexpr std::uint64_t kCues = 0x1C53BB6B;
constexpr std::uint64_t kCuePoint = 0xBB;
constexpr std::uint64_t kCueTime = 0xB3;
constexpr std::uint64_t kCueTrackPositions = 0xB7;
constexpr std::uint64_t kCueTrack = 0xF7;
constexpr std::uint64_t kCueClusterPosition = 0xF1;
constexpr std::uint64_t kCluster = 0x1F43B675;
constexpr std::uint64_t kDuration = 0x4489;
constexpr std::uint64_t kClusterTimestamp = 0xE7;
constexpr std::uint64_t kSimpleBlock = 0xA3;
constexpr std::uint64_t kBlockGroup = 0xA0;
constexpr std::uint64_t kBlock = 0xA1;
constexpr std::uint64_t kReferenceBlock = 0xFB;
// The EBML header's fields, which only the writer sets.
constexpr std::uint64_t kEbmlVersion = 0x4286;
constexpr std::uint64_t kEbmlReadVersion = 0x42F7;
constexpr std::uint64_t kEbmlMaxIdLength = 0x42F2;
constexpr std::uint64_t kEbmlMaxSizeLength = 0x42F3;
constexpr std::uint64_t kDocType = 0x4282;
constexpr std::uint64_t kDocTypeVersion = 0x4287;
constexpr std::uint64_t kDocTypeReadVersion = 0x4285;

}  // namespace reel::matroska_id

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
// Written by the run's own mux, and read to carry a movie's own along.
constexpr std::uint64_t kVoid = 0xEC;
constexpr std::uint64_t kTitle = 0x7BA9;
constexpr std::uint64_t kDateUtc = 0x4461;
constexpr std::uint64_t kChapters = 0x1043A770;
constexpr std::uint64_t kAttachments = 0x1941A469;
constexpr std::uint64_t kBlockDuration = 0x9B;
constexpr std::uint64_t kCueRelativePosition = 0xF0;
constexpr std::uint64_t kSimpleTag = 0x67C8;
constexpr std::uint64_t kTagName = 0x45A3;
constexpr std::uint64_t kTagString = 0x4487;
constexpr std::uint64_t kTagEditionUid = 0x63C9;
constexpr std::uint64_t kTagChapterUid = 0x63C4;
constexpr std::uint64_t kTagAttachmentUid = 0x63C6;
constexpr std::uint64_t kFlagDefault = 0x88;
constexpr std::uint64_t kFlagForced = 0x55AA;
constexpr std::uint64_t kFlagLacing = 0x9C;
constexpr std::uint64_t kLanguage = 0x22B59C;
constexpr std::uint64_t kLanguageBcp47 = 0x22B59D;
constexpr std::uint64_t kName = 0x536E;
constexpr std::uint64_t kCodecId = 0x86;
constexpr std::uint64_t kVideo = 0xE0;
constexpr std::uint64_t kProjection = 0x7670;
constexpr std::uint64_t kProjectionPoseRoll = 0x7675;
constexpr std::uint64_t kEditionEntry = 0x45B9;
constexpr std::uint64_t kEditionUid = 0x45BC;
constexpr std::uint64_t kChapterAtom = 0xB6;
constexpr std::uint64_t kChapterUid = 0x73C4;
constexpr std::uint64_t kChapterTimeStart = 0x91;
constexpr std::uint64_t kChapterFlagHidden = 0x98;
constexpr std::uint64_t kChapterFlagEnabled = 0x4598;
constexpr std::uint64_t kChapterDisplay = 0x80;
constexpr std::uint64_t kChapString = 0x85;
constexpr std::uint64_t kChapLanguage = 0x437C;
// The EBML header's fields, which only the writer sets.
constexpr std::uint64_t kEbmlVersion = 0x4286;
constexpr std::uint64_t kEbmlReadVersion = 0x42F7;
constexpr std::uint64_t kEbmlMaxIdLength = 0x42F2;
constexpr std::uint64_t kEbmlMaxSizeLength = 0x42F3;
constexpr std::uint64_t kDocType = 0x4282;
constexpr std::uint64_t kDocTypeVersion = 0x4287;
constexpr std::uint64_t kDocTypeReadVersion = 0x4285;

}  // namespace reel::matroska_id

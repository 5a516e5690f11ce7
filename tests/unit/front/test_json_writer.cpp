#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include <nlohmann/json.hpp>

#include "json_writer.h"

namespace reel {
namespace {

TEST(JsonNumber, PlainAndExponentForms) {
    struct Case { double value; std::string text; };
    const Case cases[] = {
        {60, "60.0"},
        {90, "90.0"},
        {0.5, "0.5"},
        {0, "0.0"},
        {-0.0, "-0.0"},
        {1, "1.0"},
        {-2.25, "-2.25"},
        {3723.5, "3723.5"},
        {0.1, "0.1"},
        {1.0 / 3.0, "0.3333333333333333"},
        {0.00001, "0.00001"},          // k = -4: still plain
        {0.000012345, "0.000012345"},
        {0.0000015, "1.5e-6"},         // k = -5: exponent form
        {0.000001, "1e-6"},
        {-0.0000015, "-1.5e-6"},
        {1e15, "1000000000000000.0"},  // k = 16: plain
        {1234567890123456.7, "1234567890123456.8"},
        {1e16, "1e16"},                // k = 17: exponent form
        {1.25e20, "1.25e20"},
        {-1.25e20, "-1.25e20"},
        {12345678901234567.0, "1.2345678901234568e16"},  // k = 17: exponent form
        {5e-324, "5e-324"},
        {1.7976931348623157e308, "1.7976931348623157e308"},
        {123.456, "123.456"},
        {100, "100.0"},
        {0.7 + 0.1, "0.7999999999999999"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(json_number(c.value), c.text) << c.text;
    }
}

TEST(JsonNumber, NonFiniteIsNull) {
    EXPECT_EQ(json_number(std::numeric_limits<double>::quiet_NaN()), "null");
    EXPECT_EQ(json_number(std::numeric_limits<double>::infinity()), "null");
    EXPECT_EQ(json_number(-std::numeric_limits<double>::infinity()), "null");
}

TEST(JsonNumber, ReadsBackExactly) {
    // Whatever the layout, a JSON reader must get the very same double back.
    const double values[] = {0.1, 1e-7, 123456.789e10, 6.02214076e23, 1e-300, 4.9e-324, 2.5e-5, 9.999999999999999e15};
    for (const double v : values) {
        const auto parsed = nlohmann::json::parse(json_number(v));
        EXPECT_EQ(parsed.get<double>(), v) << json_number(v);
    }
}

TEST(JsonString, Escapes) {
    struct Case { std::string text, json; };
    const Case cases[] = {
        {"plain", "\"plain\""},
        {"", "\"\""},
        {"a\"b", "\"a\\\"b\""},
        {"a\\b", "\"a\\\\b\""},
        {"\b\f\n\r\t", "\"\\b\\f\\n\\r\\t\""},
        {std::string("\0", 1), "\"\\u0000\""},
        {"\x01\x1b\x1f", "\"\\u0001\\u001b\\u001f\""},
        {"\x0b", "\"\\u000b\""},
        {" ~\x7f", "\" ~\x7f\""},
        {"a/b", "\"a/b\""},
        {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xAC", "\"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xAC\""},
    };
    for (const auto& c : cases) EXPECT_EQ(json_string(c.text), c.json) << c.json;
}

MediaInfo sample_media() {
    MediaInfo info;
    info.path = "/films/A \"quoted\" movie.mkv";
    info.fileName = "A \"quoted\" movie.mkv";
    info.container = "matroska,webm";
    info.duration = 90;
    info.size = 18446744073709551615ull;
    info.title = "Line one\nLine two";
    VideoStreamInfo v;
    v.index = 0;
    v.codec = "h264";
    v.profile = "High";
    v.level = 41;
    v.width = 1920;
    v.height = 1080;
    v.fpsNum = 24000;
    v.fpsDen = 1001;
    v.pixFmt = "yuv420p";
    v.sar = "1:1";
    v.bitRate = -1;
    info.video = v;
    AudioStreamInfo a;
    a.index = 1;
    a.codec = "aac";
    a.channels = 6;
    a.channelLayout = "5.1(side)";
    a.sampleRate = 48000;
    a.language = "eng";
    a.isDefault = true;
    info.audio = {a};
    SubtitleStreamInfo s;
    s.index = 2;
    s.codec = "subrip";
    s.language = "deu";
    s.title = "Forced\tonly";
    s.forced = true;
    s.text = true;
    info.subtitles = {s};
    info.chapters = {{0, 60, "Opening"}, {60, std::numeric_limits<double>::quiet_NaN(), "Rest \\ end"}};
    return info;
}

TEST(ProbeJson, WholeDocument) {
    const std::string expected = R"json({
  "path": "/films/A \"quoted\" movie.mkv",
  "fileName": "A \"quoted\" movie.mkv",
  "container": "matroska,webm",
  "duration": 90.0,
  "size": 18446744073709551615,
  "title": "Line one\nLine two",
  "video": {
    "index": 0,
    "codec": "h264",
    "profile": "High",
    "level": 41,
    "width": 1920,
    "height": 1080,
    "fpsNum": 24000,
    "fpsDen": 1001,
    "pixFmt": "yuv420p",
    "colorRange": null,
    "colorSpace": null,
    "colorTransfer": null,
    "colorPrimaries": null,
    "chromaLocation": null,
    "sar": "1:1",
    "fieldOrder": null,
    "bitRate": -1,
    "nbFrames": null
  },
  "audio": [
    {
      "index": 1,
      "codec": "aac",
      "profile": null,
      "channels": 6,
      "channelLayout": "5.1(side)",
      "sampleRate": 48000,
      "bitRate": null,
      "language": "eng",
      "title": null,
      "default": true
    }
  ],
  "subtitles": [
    {
      "index": 2,
      "codec": "subrip",
      "language": "deu",
      "title": "Forced\tonly",
      "default": false,
      "forced": true,
      "text": true
    }
  ],
  "chapters": [
    {
      "start": 0.0,
      "end": 60.0,
      "title": "Opening"
    },
    {
      "start": 60.0,
      "end": null,
      "title": "Rest \\ end"
    }
  ]
})json";
    EXPECT_EQ(write_probe_json(sample_media()), expected);
}

TEST(ProbeJson, NoVideoNoStreamsNoChapters) {
    MediaInfo info;
    info.path = "a.mka";
    info.fileName = "a.mka";
    info.container = "matroska,webm";
    info.duration = std::numeric_limits<double>::quiet_NaN();
    const std::string expected = R"json({
  "path": "a.mka",
  "fileName": "a.mka",
  "container": "matroska,webm",
  "duration": null,
  "size": 0,
  "title": null,
  "video": null,
  "audio": [],
  "subtitles": [],
  "chapters": []
})json";
    EXPECT_EQ(write_probe_json(info), expected);
}

TEST(ProbeJson, IsValidJsonWithTheSameValues) {
    const auto doc = nlohmann::json::parse(write_probe_json(sample_media()));
    EXPECT_EQ(doc["title"], "Line one\nLine two");
    EXPECT_EQ(doc["size"].get<std::uint64_t>(), 18446744073709551615ull);
    EXPECT_EQ(doc["video"]["fpsDen"], 1001);
    EXPECT_EQ(doc["audio"][0]["default"], true);
    EXPECT_TRUE(doc["chapters"][1]["end"].is_null());
}

TEST(RunReportJson, WholeDocument) {
    RunReport report;
    report.output = "/films/Movie (edited).mkv";
    report.duration = 1234.5;
    report.originalDuration = 1300;
    report.warnings = {"Muting 'arg2' without audio", "tab\there"};
    report.applied = {
        {"arg1", EditAction::Remove, 10, 20, 9.96, 20.02, std::nullopt},
        {"csv3", EditAction::Replace, 60, 65, 60.0, 65.0, 10.0},
        {"csv4", EditAction::TextOverVideo, 70, 71, 70, 71, 0.000001},
        {"arg2", EditAction::Mute, 0.5, 1e16, 0.5, 1e16, std::nullopt},
    };
    report.secondsEncoded = 11.000001;
    const std::string expected = R"json({
  "output": "/films/Movie (edited).mkv",
  "duration": 1234.5,
  "originalDuration": 1300.0,
  "warnings": [
    "Muting 'arg2' without audio",
    "tab\there"
  ],
  "applied": [
    {
      "id": "arg1",
      "kind": "remove",
      "requestedStart": 10.0,
      "requestedEnd": 20.0,
      "actualStart": 9.96,
      "actualEnd": 20.02,
      "cardSeconds": null
    },
    {
      "id": "csv3",
      "kind": "replace",
      "requestedStart": 60.0,
      "requestedEnd": 65.0,
      "actualStart": 60.0,
      "actualEnd": 65.0,
      "cardSeconds": 10.0
    },
    {
      "id": "csv4",
      "kind": "textOverVideo",
      "requestedStart": 70.0,
      "requestedEnd": 71.0,
      "actualStart": 70.0,
      "actualEnd": 71.0,
      "cardSeconds": 1e-6
    },
    {
      "id": "arg2",
      "kind": "mute",
      "requestedStart": 0.5,
      "requestedEnd": 1e16,
      "actualStart": 0.5,
      "actualEnd": 1e16,
      "cardSeconds": null
    }
  ],
  "secondsEncoded": 11.000001
})json";
    EXPECT_EQ(write_run_report_json(report), expected);
}

TEST(RunReportJson, EmptyArraysStayOnOneLine) {
    RunReport report;
    report.output = "x.mkv";
    report.duration = 60;
    report.originalDuration = 90;
    const std::string expected = R"json({
  "output": "x.mkv",
  "duration": 60.0,
  "originalDuration": 90.0,
  "warnings": [],
  "applied": [],
  "secondsEncoded": 0.0
})json";
    EXPECT_EQ(write_run_report_json(report), expected);
}

}  // namespace
}  // namespace reel

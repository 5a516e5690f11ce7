// Running ffmpeg for the preview helpers; the bytes come back as base64 text.
#include "preview/preview.h"
#include "probe/probe.h"
#include "tools/run.h"
#include "util/base64.h"

namespace reel {

Result<std::string> grab_frame(const ToolSet& tools, const std::string& movie, double time, unsigned width,
                               bool exact) {
    auto bytes = run_capture_bytes(tools.ffmpeg, frame_grab_arguments(movie, time, width, exact));
    if (!bytes) return fail(bytes.error());
    // ffmpeg exits 0 without output when the position lies past the last frame.
    if (bytes->empty()) return fail("ffmpeg produced no frame at that position");
    return base64_encode(*bytes);
}

Result<std::string> make_proxy_clip(const ToolSet& tools, const std::string& movie, double start, double length,
                                    unsigned height) {
    auto info = probe_media(tools, movie);
    if (!info) return fail(info.error());
    auto bytes = run_capture_bytes(tools.ffmpeg, proxy_clip_arguments(*info, movie, start, length, height));
    if (!bytes) return fail(bytes.error());
    return base64_encode(*bytes);
}

}  // namespace reel

#pragma once
// Fake tools: small POSIX shell scripts written into a test's temporary folder,
// standing in for ffmpeg, ffprobe or mkvmerge on failure paths (bad exit codes,
// garbage or huge output, progress lines).
#include <filesystem>
#include <string>
#include <string_view>

namespace reel::test {

// Writes an executable script `name` into `folder`: "#!/bin/sh" and `body`.
std::filesystem::path write_fake_tool(const std::filesystem::path& folder, const std::string& name,
                                      std::string_view body);

// A script that writes exactly these bytes to standard output and standard
// error and exits with `exit_code`.
std::filesystem::path write_fake_tool(const std::filesystem::path& folder, const std::string& name,
                                      std::string_view stdout_bytes, std::string_view stderr_bytes, int exit_code);

// A script that runs `before` (shell lines that may note the arguments, "$*",
// or fail on some of them) and then the real tool at `real` with its arguments.
std::filesystem::path write_wrapping_tool(const std::filesystem::path& folder, const std::string& name,
                                          const std::string& real, std::string_view before);

// A shell command printing `bytes` exactly (every byte that is not a letter or
// digit written as an octal escape, so any byte value survives).
std::string shell_print(std::string_view bytes);

// `text` as one single-quoted shell word.
std::string shell_quote(std::string_view text);

}  // namespace reel::test

#pragma once
// A temporary folder for one test, removed with everything in it at the end.
#include <filesystem>
#include <string>

namespace reel::test {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
    // Writes a file (creating parent folders) and returns its path.
    std::filesystem::path write(const std::string& name, const std::string& content) const;

private:
    std::filesystem::path path_;
};

// Reads a whole file as bytes; empty when missing.
std::string slurp(const std::filesystem::path& path);

}  // namespace reel::test

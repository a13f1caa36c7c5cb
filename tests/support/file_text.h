// Whole files as bytes, and a directory's entries, for tests that check what
// the code under test left on disk.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace linkbay {
namespace test {

inline void WriteRaw(const std::string& sPath, std::string_view text) {
    std::ofstream(sPath, std::ios::binary).write(text.data(), static_cast<std::streamsize>(text.size()));
}

inline std::optional<std::string> ReadRaw(const std::string& sPath) {
    std::ifstream in(sPath, std::ios::binary);
    if (!in) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::vector<std::string> DirectoryEntries(const std::string& sDir) {
    std::vector<std::string> names;
    std::error_code error;  // none listed then
    for (const auto& entry : std::filesystem::directory_iterator(sDir, error))
        names.push_back(entry.path().filename().string());
    return names;
}

}  // namespace test
}  // namespace linkbay

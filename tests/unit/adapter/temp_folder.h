// A scratch folder for one test, removed with everything in it when the test ends.
#pragma once

#include <glib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace adapter_test {

class TempFolder {
public:
    TempFolder() {
        g_autofree char* made = g_dir_make_tmp("velmora-adapter-XXXXXX", nullptr);
        if (!made) {
            throw std::runtime_error("no temporary folder");
        }
        path = made;
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // The path of `name` inside the folder.
    std::string operator/(const std::string& name) const { return path + "/" + name; }

    std::string path;
};

// Writes `bytes` to `path`, creating the folders on the way.
inline void writeFile(const std::string& path, const std::string& bytes) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

// The bytes of the file at `path`, empty when there is none.
inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The names in `folder`, sorted.
inline std::vector<std::string> namesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& file : std::filesystem::directory_iterator(folder)) names.push_back(file.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace adapter_test

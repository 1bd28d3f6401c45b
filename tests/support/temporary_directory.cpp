#include "temporary_directory.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

TemporaryDirectory::TemporaryDirectory() {
    previous_ = fs::current_path().string();
    static unsigned counter = 0;
    auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    fs::path path = fs::temp_directory_path() /
                    ("hub-unit-" + std::to_string(stamp) + "-" + std::to_string(++counter));
    fs::create_directories(path);
    path_ = path.string();
    fs::current_path(path);
}

TemporaryDirectory::~TemporaryDirectory() {
    std::error_code ignored;
    fs::current_path(previous_, ignored);
    fs::remove_all(path_, ignored);
}

void TemporaryDirectory::write(const std::string &name, const std::string &content) const {
    std::ofstream file(fs::path(path_) / name, std::ios::binary);
    file << content;
}

std::string TemporaryDirectory::read(const std::string &name) const {
    std::ifstream file(fs::path(path_) / name, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

bool TemporaryDirectory::exists(const std::string &name) const {
    return fs::exists(fs::path(path_) / name);
}

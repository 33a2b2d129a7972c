// A fresh folder under the system's temporary folder for one test, removed
// with everything in it at the end, and small whole-file helpers.
#pragma once

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

namespace testsupport {

class ScratchDir {
 public:
  ScratchDir() {
    static std::atomic<int> counter{0};
    std::random_device rd;
    path_ = std::filesystem::temp_directory_path() /
            ("vt_test_" + std::to_string(rd()) + "_" + std::to_string(counter++));
    std::filesystem::create_directories(path_);
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  std::string Path() const { return path_.string(); }
  // The path of a file of that name in the folder (which need not exist).
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }
  std::string Missing(const std::string& name) const { return *this / name; }
  // Writes content into a file of that name and returns its path.
  std::string Write(const std::string& name, const std::string& content) const {
    const std::string path = *this / name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    return path;
  }

 private:
  std::filesystem::path path_;
};

inline void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace testsupport

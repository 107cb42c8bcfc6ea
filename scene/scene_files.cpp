#include "scene_files.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <system_error>
#include <utility>

#include "text_input.h"

namespace strata::scene {
namespace {

namespace fs = std::filesystem;

class DiskFile : public InputFile {
 public:
  DiskFile(std::ifstream in, std::string path) : in_(std::move(in)), path_(std::move(path)) {}
  std::size_t read(char* into, std::size_t size) override {
    in_.read(into, static_cast<std::streamsize>(size));
    if (in_.bad()) {
      throw FileReadError(path_ + ": cannot be read");
    }
    return static_cast<std::size_t>(in_.gcount());
  }

 private:
  std::ifstream in_;
  std::string path_;
};

class MemoryFile : public InputFile {
 public:
  MemoryFile(const std::string& text, std::size_t read_size) : text_(text), size_(read_size) {}
  std::size_t read(char* into, std::size_t size) override {
    const std::size_t n = std::min({size, size_, text_.size() - at_});
    std::memcpy(into, text_.data() + at_, n);
    at_ += n;
    return n;
  }

 private:
  const std::string& text_;
  std::size_t size_;
  std::size_t at_ = 0;
};

}  // namespace

OpenedFile DiskFiles::open(const std::string& path) {
  OpenedFile opened;
  std::error_code ec;
  if (fs::status(path, ec).type() == fs::file_type::not_found) {
    opened.missing = true;
    opened.problem = "no such file";
    return opened;
  }
  // The tools' one rule for what may be read as text: a regular file.
  std::ifstream in;
  try {
    in = host::open_text_file(path);
  } catch (const host::TextFileError& e) {
    // "PATH: reason"; the reader names the path itself.
    const std::string_view message = e.what();
    const std::string prefix = path + ": ";
    opened.problem = std::string(
        message.substr(0, prefix.size()) == prefix ? message.substr(prefix.size()) : message);
    return opened;
  }
  const fs::path canonical = fs::weakly_canonical(path, ec);
  opened.identity = ec ? path : canonical.string();
  opened.file = std::make_unique<DiskFile>(std::move(in), path);
  return opened;
}

void MemoryFiles::add(const std::string& path, std::string text) {
  files_[fs::path(path).lexically_normal().generic_string()] = std::move(text);
}

void MemoryFiles::refuse(const std::string& path, std::string problem) {
  refused_[fs::path(path).lexically_normal().generic_string()] = std::move(problem);
}

OpenedFile MemoryFiles::open(const std::string& path) {
  OpenedFile opened;
  const std::string key = fs::path(path).lexically_normal().generic_string();
  if (const auto it = refused_.find(key); it != refused_.end()) {
    opened.problem = it->second;
    return opened;
  }
  const auto it = files_.find(key);
  if (it == files_.end()) {
    opened.missing = true;
    opened.problem = "no such file";
    return opened;
  }
  opened.identity = key;
  opened.file = std::make_unique<MemoryFile>(it->second, std::max<std::size_t>(1, read_size_));
  return opened;
}

}  // namespace strata::scene

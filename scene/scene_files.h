// The files a scene reader opens: the scene and what it includes. Reading
// goes through this interface so that tests and the fuzzer can hand the
// reader files held in memory, and no scene can make it open what it names
// (`$include "/dev/zero"`) unless the caller's file system allows it.
#ifndef STRATAMIX_SCENE_SCENE_FILES_H
#define STRATAMIX_SCENE_SCENE_FILES_H

#include <cstddef>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>

namespace strata::scene {

// A read that failed part way; its message names the file and the reason.
struct FileReadError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

class InputFile {
 public:
  virtual ~InputFile() = default;
  // Up to `size` bytes into `into`; 0 at the end of the file. Throws
  // FileReadError.
  virtual std::size_t read(char* into, std::size_t size) = 0;
};

struct OpenedFile {
  std::unique_ptr<InputFile> file;  // null when the file cannot be read
  bool missing = false;             // nothing of that name: an include looks on
  std::string problem;              // why it cannot be read ("is a folder, not a file")
  // Names the file whatever path reached it, to see an include cycle.
  std::string identity;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  virtual OpenedFile open(const std::string& path) = 0;
};

// The machine's files. Only regular files are read: a folder, FIFO or device
// is refused by name.
class DiskFiles : public FileSystem {
 public:
  OpenedFile open(const std::string& path) override;
};

// Files held in memory by path; every other path is missing. `read_size`
// bounds each read, so that a test can make the reader cross its chunks at
// any byte.
class MemoryFiles : public FileSystem {
 public:
  explicit MemoryFiles(std::size_t read_size = 1 << 20) : read_size_(read_size) {}
  void add(const std::string& path, std::string text);
  // A path that exists and cannot be read, for the reason given.
  void refuse(const std::string& path, std::string problem);
  OpenedFile open(const std::string& path) override;

 private:
  std::size_t read_size_;
  std::map<std::string, std::string> files_;
  std::map<std::string, std::string> refused_;
};

}  // namespace strata::scene

#endif  // STRATAMIX_SCENE_SCENE_FILES_H

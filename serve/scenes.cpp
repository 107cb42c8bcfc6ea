#include "scenes.h"

#include <algorithm>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <string_view>
#include <system_error>
#include <utility>

#include "preset.h"
#include "scene_files.h"
#include "scene_preset.h"
#include "scene_reader.h"
#include "scene_writer.h"

namespace strata::serve {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

Answer json_answer(int status, const json& body) {
  return {
      status, "application/json", body.dump(-1, ' ', false, json::error_handler_t::replace), {}};
}

// The machine's files, with one budget of bytes for the scene and all it
// includes: past it, every read fails, and the read stops with the message.
class BudgetFiles : public scene::FileSystem {
 public:
  explicit BudgetFiles(std::uint64_t budget) : left_(budget) {}
  scene::OpenedFile open(const std::string& path) override {
    scene::OpenedFile opened = disk_.open(path);
    if (opened.file) {
      opened.file = std::make_unique<Counted>(std::move(opened.file), &left_);
    }
    return opened;
  }

 private:
  class Counted : public scene::InputFile {
   public:
    Counted(std::unique_ptr<scene::InputFile> file, std::uint64_t* left)
        : file_(std::move(file)), left_(left) {}
    std::size_t read(char* into, std::size_t size) override {
      const std::size_t n = file_->read(into, size);
      if (n > *left_) {
        *left_ = 0;
        throw scene::FileReadError("the scene and its includes are over " +
                                   std::to_string(kMaxSceneBytes >> 20) +
                                   " MiB, more than the page opens");
      }
      *left_ -= n;
      return n;
    }

   private:
    std::unique_ptr<scene::InputFile> file_;
    std::uint64_t* left_;
  };
  scene::DiskFiles disk_;
  std::uint64_t left_;
};

// The folder as the scenes' names are resolved against: its links followed.
fs::path real_root(const SceneFolder& folder) {
  std::error_code ec;
  fs::path root = fs::canonical(folder.root, ec);
  if (ec) {
    throw Refusal{500, "the scenes folder cannot be read: " + ec.message()};
  }
  return root;
}

// Whether `path` (its links followed) lies inside `root`.
bool inside(const fs::path& root, const fs::path& path) {
  const fs::path rel = path.lexically_relative(root);
  return !rel.empty() && *rel.begin() != ".." && rel != ".";
}

// A scene's name as the page gives it: a relative path of plain parts,
// ending in ".mi", inside the folder once its links are followed, and a
// regular file. The path to read it by.
fs::path resolved(const SceneFolder& folder, const std::string& name) {
  if (name.empty() || name.size() > kMaxSceneName) {
    throw Refusal{400, "a scene's name is 1 to " + std::to_string(kMaxSceneName) + " bytes"};
  }
  const fs::path asked(name);
  bool plain = !asked.has_root_path() && name.find('\\') == std::string::npos &&
               name.find('\0') == std::string::npos && name.back() != '/';
  for (const fs::path& part : asked) {
    plain = plain && part != ".." && part != "." && !part.empty();
  }
  if (!plain || !preview::is_scene_path(name)) {
    throw Refusal{400, "'" + name +
                           "' is no scene's name: a path inside the scenes folder, "
                           "without '..', ending in .mi"};
  }
  const fs::path root = real_root(folder);
  std::error_code ec;
  fs::path path = fs::canonical(root / asked, ec);
  if (ec || !inside(root, path)) {
    throw Refusal{404, "no scene '" + name + "' in the scenes folder"};
  }
  if (!fs::is_regular_file(path, ec)) {
    throw Refusal{400, "'" + name + "' is not a file"};
  }
  return path;
}

// The files of a read as the page shows them: inside the folder by their
// names there, anything else (the declaration on the renderer's path) by
// its file name alone, so that no answer tells where the folder lies.
std::vector<std::string> shown_files(const fs::path& root, const std::string& name,
                                     const std::vector<std::string>& files) {
  std::vector<std::string> shown;
  for (std::size_t i = 0; i < files.size(); ++i) {
    const fs::path path = fs::path(files[i]).lexically_normal();
    shown.push_back(i == 0               ? name
                    : inside(root, path) ? path.lexically_relative(root).generic_string()
                                         : path.filename().string());
  }
  return shown;
}

const std::string* argument(const Query& query, std::string_view name) {
  for (const auto& [key, value] : query) {
    if (key == name) {
      return &value;
    }
  }
  return nullptr;
}

json instance_list(const scene::Scene& s, const std::vector<std::string>& files) {
  json out = json::array();
  for (const scene::Instance& in : s.instances) {
    out.push_back({{"name", in.name},
                   {"place", scene::place_text(in.where, files)},
                   {"errors", in.errors},
                   {"warnings", in.warnings},
                   {"connected", preview::connected_parameters(in)}});
  }
  return out;
}

// A diagnostic as the page shows it: the files by their shown names, in
// its place and in its message ("not found beside FILE").
std::string shown_diagnostic(const scene::Diagnostic& d, const std::vector<std::string>& files,
                             const std::vector<std::string>& shown) {
  std::string text = scene::format_diagnostic(d, shown);
  for (std::size_t i = 0; i < files.size(); ++i) {
    for (std::size_t at = text.find(files[i]); !files[i].empty() && at != std::string::npos;
         at = text.find(files[i], at + shown[i].size())) {
      text.replace(at, files[i].size(), shown[i]);
    }
  }
  return text;
}

// The diagnostics of the scene as a whole, and of the instance numbered
// `only` (all of them when it is -1).
json diagnostic_list(const scene::Scene& s, const std::vector<std::string>& shown,
                     std::int64_t only) {
  json out = json::array();
  for (const scene::Diagnostic& d : s.diagnostics) {
    if ((only < 0 || d.instance < 0 || d.instance == only) && out.size() < kMaxSceneDiagnostics) {
      out.push_back(shown_diagnostic(d, s.summary.files, shown));
    }
  }
  return out;
}

Answer opened_instance(const scene::Scene& s, const std::vector<std::string>& files,
                       const std::string& name, const std::string& shader) {
  const auto found = std::find_if(s.instances.begin(), s.instances.end(),
                                  [&](const scene::Instance& in) { return in.name == shader; });
  if (found == s.instances.end()) {
    throw Refusal{404, name + " holds no strataMix instance " + scene::quoted(shader)};
  }
  const scene::Instance& in = *found;
  const auto number = static_cast<std::int64_t>(found - s.instances.begin());
  const std::string origin = scene::place_text(in.where, files);
  json diagnostics = diagnostic_list(s, files, number);
  if (in.errors > 0) {
    json out{{"error", scene::quoted(in.name) + " (" + origin + ") has errors: not opened"},
             {"diagnostics", diagnostics}};
    return json_answer(400, out);
  }
  const preview::Preset preset = preview::parse_preset(preview::instance_preset(in, origin));
  json out = json::parse(preset_json(preset));
  out["instance"] = in.name;
  out["place"] = origin;
  out["connected"] = preview::connected_parameters(in);
  out["diagnostics"] = diagnostics;
  return json_answer(200, out);
}

}  // namespace

Answer scenes_answer(const SceneFolder& folder, const Query& query) {
  try {
    if (folder.root.empty()) {
      throw Refusal{404, "the server opens no scenes (stratamix serve --scenes DIR)"};
    }
    if (!query.empty()) {
      throw Refusal{400, "scenes takes no options"};
    }
    const fs::path root = real_root(folder);
    // Each scene once, by its name in the folder once its links are
    // followed: a link to a scene elsewhere is no scene of the folder.
    std::set<std::string> found;
    std::error_code ec;
    fs::recursive_directory_iterator it(root,
                                        fs::directory_options::follow_directory_symlink |
                                            fs::directory_options::skip_permission_denied,
                                        ec);
    for (std::size_t seen = 0; !ec && it != fs::recursive_directory_iterator() &&
                               seen < kMaxFolderEntries && found.size() < kMaxScenesListed;
         it.increment(ec), ++seen) {
      if (it.depth() >= kMaxFolderDepth) {
        it.disable_recursion_pending();
      }
      std::error_code file_ec;
      if (!preview::is_scene_path(it->path().filename().string()) ||
          !it->is_regular_file(file_ec)) {
        continue;
      }
      const fs::path real = fs::canonical(it->path(), file_ec);
      if (!file_ec && inside(root, real)) {
        found.insert(real.lexically_relative(root).generic_string());
      }
    }
    std::vector<std::string> names(found.begin(), found.end());
    return json_answer(200, json{{"scenes", names}});
  } catch (const Refusal& r) {
    return refusal_answer(r);
  }
}

Answer scene_answer(const SceneFolder& folder, const Query& query) {
  try {
    if (folder.root.empty()) {
      throw Refusal{404, "the server opens no scenes (stratamix serve --scenes DIR)"};
    }
    const std::string* name = nullptr;
    const std::string* shader = nullptr;
    for (const auto& [key, value] : query) {
      if (key != "name" && key != "shader") {
        throw Refusal{400, "unknown scene option '" + key + "' (name, shader)"};
      }
    }
    name = argument(query, "name");
    shader = argument(query, "shader");
    if (name == nullptr) {
      throw Refusal{400, "scene needs name=SCENE"};
    }
    const fs::path path = resolved(folder, *name);
    BudgetFiles files(kMaxSceneBytes);
    scene::ReadOptions read;
    read.include_dirs = folder.include_dirs;
    const scene::Scene s = scene::read_scene(path.string(), files, read);
    const std::vector<std::string> shown = shown_files(real_root(folder), *name, s.summary.files);
    if (s.summary.unreadable) {
      const json diagnostics = diagnostic_list(s, shown, -1);
      return json_answer(
          400, json{{"error", diagnostics.empty() ? *name + ": cannot be read"
                                                  : diagnostics.back().get<std::string>()},
                    {"diagnostics", diagnostics}});
    }
    if (shader != nullptr) {
      return opened_instance(s, shown, *name, *shader);
    }
    return json_answer(200, json{{"scene", *name},
                                 {"instances", instance_list(s, shown)},
                                 {"errors", s.summary.errors},
                                 {"warnings", s.summary.warnings},
                                 {"diagnostics", diagnostic_list(s, shown, -1)}});
  } catch (const Refusal& r) {
    return refusal_answer(r);
  }
}

}  // namespace strata::serve

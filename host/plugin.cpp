#include "plugin.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

namespace strata::host {
namespace {

#if defined(_WIN32)
void* open_library(const std::string& path, std::string* error) {
  HMODULE module = LoadLibraryA(path.c_str());
  if (module == nullptr) {
    *error = "LoadLibrary error " + std::to_string(GetLastError());
  }
  return reinterpret_cast<void*>(module);
}
void* find_symbol(void* handle, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), name));
}
void close_library(void* handle) { FreeLibrary(static_cast<HMODULE>(handle)); }
#else
void* open_library(const std::string& path, std::string* error) {
  // RTLD_NOW: an unbound mi_phen_eval is reported here, not mid-render.
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    *error = dlerror();
  }
  return handle;
}
void* find_symbol(void* handle, const char* name) { return dlsym(handle, name); }
void close_library(void* handle) { dlclose(handle); }
#endif

template <typename Fn>
Fn symbol_as(void* handle, const char* name) {
  return reinterpret_cast<Fn>(find_symbol(handle, name));
}

// As a renderer does on Windows: the plug-in finds mi_phen_eval among the
// exports of the module it is handed, here the host program itself.
// Elsewhere the dynamic loader binds the plug-in's mi_phen_eval to the host
// program's, and there is nothing to hand over.
void hand_over_module([[maybe_unused]] void* handle) {
#if defined(_WIN32)
  using SetModuleFn = void (*)(void*);
  if (const auto set_module = symbol_as<SetModuleFn>(handle, "miSetModuleHandle")) {
    set_module(GetModuleHandleA(nullptr));
  }
#endif
}

}  // namespace

Plugin::Plugin(const std::string& path) : path_(path) {
  std::string error;
  handle_ = open_library(path, &error);
  if (handle_ == nullptr) {
    throw PluginError("cannot load plug-in " + path + ": " + error);
  }
  shader_ = symbol_as<ShaderFn>(handle_, "strataMix");
  if (shader_ == nullptr) {
    close_library(handle_);
    throw PluginError("plug-in " + path + " has no strataMix");
  }
  version_ = symbol_as<VersionFn>(handle_, "strataMix_version");
  init_ = symbol_as<InitFn>(handle_, "strataMix_init");
  exit_ = symbol_as<ExitFn>(handle_, "strataMix_exit");
  hand_over_module(handle_);
}

Plugin::~Plugin() { close_library(handle_); }

std::int32_t Plugin::interface_version() const {
  if (version_ == nullptr) {
    throw PluginError("plug-in " + path_ + " has no strataMix_version");
  }
  return version_();
}

void* Plugin::symbol(const char* name) const { return find_symbol(handle_, name); }

const char* plugin_file_name() {
#if defined(_WIN32)
  return "strataMix.dll";
#else
  return "strataMix.so";
#endif
}

std::string beside_executable(const std::string& name) {
  std::string self;
#if defined(_WIN32)
  char buffer[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
  self.assign(buffer, n);
  const auto slash = self.find_last_of("\\/");
#else
  char buffer[4096];
  const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer);
  if (n > 0) {
    self.assign(buffer, static_cast<std::size_t>(n));
  }
  const auto slash = self.find_last_of('/');
#endif
  const std::string dir = slash == std::string::npos ? "." : self.substr(0, slash);
  return dir + "/" + name;
}

std::string plugin_beside_executable() { return beside_executable(plugin_file_name()); }

}  // namespace strata::host

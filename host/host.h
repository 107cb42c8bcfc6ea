// The stand-in renderer: owns the shader's parameter record with its
// connection tags, gives each thread its own shading state, and provides
// mi_phen_eval to the plug-in from the host process.
#ifndef STRATAMIX_HOST_HOST_H
#define STRATAMIX_HOST_HOST_H

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

#include "renderer.h"
#include "strataMix.h"

// mi_phen_eval is defined by the host process and bound by the plug-in.
#if defined(_WIN32)
#define STRATAMIX_HOST_EXPORT __declspec(dllexport)
#else
#define STRATAMIX_HOST_EXPORT __attribute__((visibility("default")))
#endif

namespace strata::host {

using ShaderFn = std::int32_t (*)(strataMix_result*, mi_state*, strataMix_params*);

// A connected parameter's shader. It writes the parameter's value, laid out
// with the parameter's own type, into `value`; it may change the state (its
// surface normal) as a real connected shader could.
using Connection = std::function<void(mi_state& state, void* value)>;

class Host;

// One thread's shading state. The renderer's state comes first, so that
// mi_phen_eval can find the rest from the address the shader hands back.
struct Sample {
  mi_state state;
  const Host* host;
  // Byte offsets of the parameters evaluated through mi_phen_eval, in order;
  // null when not recorded.
  std::vector<std::uint32_t>* log;
  alignas(16) unsigned char value[16];
  // Where the sample lies on the surface, for connections that vary over it
  // (the preview's textures); the shader never sees these.
  float u;
  float v;
};

// The sample that a state handed out by make_sample belongs to; a connection
// reaches the sample's surface coordinates through it.
inline const Sample& sample_of(const mi_state& state) {
  return *reinterpret_cast<const Sample*>(&state);
}

class Host {
 public:
  Host();
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  strataMix_params& params() { return block_.params; }
  const strataMix_params& params() const { return block_.params; }

  // Gives the parameter (or slot) starting at `offset` a non-zero connection
  // tag. Without a connection function its own value is returned.
  void connect(std::uint32_t offset, Connection fn = {});
  void connect_all();
  void disconnect_all();
  // Sets or clears the shader record's connection offset independently of
  // the tags, to test that a zero tag is read in place.
  void set_connection_offset_enabled(bool enabled);

  Sample make_sample(std::int32_t ray_type, strataMix_vector normal,
                     std::vector<std::uint32_t>* log = nullptr) const;

  // What mi_phen_eval does for this host.
  void* evaluate(Sample& sample, void* parameter) const;

 private:
  static constexpr std::size_t kWords = sizeof(strataMix_params) / 4;
  // The tags mirror the record: a parameter's tag lies the record's size
  // after its first byte.
  struct Block {
    strataMix_params params;
    std::uint32_t tags[kWords];
  };
  Block block_{};
  mi_shader_record record_{0};
  std::array<Connection, kWords> connections_;
};

}  // namespace strata::host

#endif  // STRATAMIX_HOST_HOST_H

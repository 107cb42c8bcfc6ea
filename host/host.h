// The stand-in renderer: owns the shader's parameter record with its
// connection tags, gives each thread its own shading state, and provides
// mi_phen_eval to the plug-in from the host process.
#ifndef STRATAMIX_HOST_HOST_H
#define STRATAMIX_HOST_HOST_H

#include <array>
#include <cstddef>
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
  // Whatever the caller of the shader wants its connections to know of this
  // sample (where it lies, say); the host hands it on untouched and the
  // shader never sees it. Null unless the caller sets it.
  const void* context;
};

// The sample that a state handed out by make_sample belongs to; a connection
// reaches the sample's context through it.
inline const Sample& sample_of(const mi_state& state) {
  return *reinterpret_cast<const Sample*>(&state);
}

// Where a host keeps the parameter record and its connection tags: one
// 32-bit tag word for every 4 bytes of the record, tag i for the parameter
// that starts at byte 4i. The two areas may lie anywhere, in either order;
// the connection offset is the distance between them.
struct Placement {
  strataMix_params* params;
  std::uint32_t* tags;
};

class Host {
 public:
  static constexpr std::size_t kTagWords = sizeof(strataMix_params) / 4;

  // Keeps the record in the host, its tags right after it.
  Host();
  // Keeps the record and the tags where the caller says, in memory that
  // outlives the host; both are zeroed. Lets a test put the record at the
  // edge of a readable page.
  explicit Host(Placement where);
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  strataMix_params& params() { return *params_; }
  const strataMix_params& params() const { return *params_; }

  // Gives the parameter (or slot) starting at `offset` a non-zero connection
  // tag. Without a connection function its own value is returned.
  void connect(std::uint32_t offset, Connection fn = {});
  // Replaces the parameter's tag with any word, 0 and negative ones
  // included, and keeps its connection function: a renderer may use any
  // non-zero word to mark a connection.
  void set_tag(std::uint32_t offset, std::uint32_t word);
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
  std::int32_t tag_distance() const;

  // The host's own storage: the tags mirror the record, a parameter's tag
  // lying the record's size after its first byte.
  struct Block {
    strataMix_params params;
    std::uint32_t tags[kTagWords];
  };
  Block own_{};
  strataMix_params* params_;
  std::uint32_t* tags_;
  mi_shader_record record_{0};
  std::array<Connection, kTagWords> connections_;
};

}  // namespace strata::host

#endif  // STRATAMIX_HOST_HOST_H

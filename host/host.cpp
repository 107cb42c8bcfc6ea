#include "host.h"

#include <cstddef>
#include <cstring>

#include "fields.h"

namespace strata::host {

Host::Host() : params_(&own_.params), tags_(own_.tags) {}

Host::Host(Placement where) : params_(where.params), tags_(where.tags) {
  std::memset(params_, 0, sizeof *params_);
  std::memset(tags_, 0, kTagWords * sizeof *tags_);
}

std::int32_t Host::tag_distance() const {
  // The two areas need not belong to one object, so the distance is taken
  // between addresses rather than by pointer subtraction.
  const auto params = reinterpret_cast<std::intptr_t>(params_);
  const auto tags = reinterpret_cast<std::intptr_t>(tags_);
  return static_cast<std::int32_t>(tags - params);
}

void Host::connect(std::uint32_t offset, Connection fn) {
  tags_[offset / 4] = offset / 4 + 1;
  connections_[offset / 4] = std::move(fn);
  record_.connection_offset = tag_distance();
}

void Host::set_tag(std::uint32_t offset, std::uint32_t word) {
  tags_[offset / 4] = word;
  record_.connection_offset = tag_distance();
}

void Host::connect_all() {
  for (const Field& f : kRecordFields) {
    for (std::uint32_t slot = 0; slot < f.slots; ++slot) {
      connect(ParameterRef{&f, slot}.offset());
    }
  }
}

void Host::disconnect_all() {
  for (std::size_t i = 0; i < kTagWords; ++i) {
    tags_[i] = 0;
    connections_[i] = nullptr;
  }
  record_.connection_offset = 0;
}

void Host::set_connection_offset_enabled(bool enabled) {
  record_.connection_offset = enabled ? tag_distance() : 0;
}

Sample Host::make_sample(std::int32_t ray_type, strataMix_vector normal,
                         std::vector<std::uint32_t>* log) const {
  Sample s{};
  s.state.ray_type = ray_type;
  s.state.normal = normal;
  s.state.shader = &record_;
  s.host = this;
  s.log = log;
  return s;
}

void* Host::evaluate(Sample& sample, void* parameter) const {
  const std::uintptr_t offset =
      reinterpret_cast<std::uintptr_t>(parameter) - reinterpret_cast<std::uintptr_t>(params_);
  if (offset >= sizeof(strataMix_params)) {
    return parameter;  // not a parameter of this host's record
  }
  if (sample.log != nullptr) {
    sample.log->push_back(static_cast<std::uint32_t>(offset));
  }
  const Connection& fn = connections_[offset / 4];
  if (!fn) {
    return parameter;
  }
  fn(sample.state, sample.value);
  return sample.value;
}

}  // namespace strata::host

extern "C" STRATAMIX_HOST_EXPORT void* mi_phen_eval(mi_state* state, void* parameter) {
  // Every state the host hands out is the first member of a Sample.
  auto* sample = reinterpret_cast<strata::host::Sample*>(state);
  return sample->host->evaluate(*sample, parameter);
}

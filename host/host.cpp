#include "host.h"

#include <cstddef>

#include "fields.h"

namespace strata::host {

Host::Host() = default;

void Host::connect(std::uint32_t offset, Connection fn) {
  block_.tags[offset / 4] = offset / 4 + 1;
  connections_[offset / 4] = std::move(fn);
  record_.connection_offset = offsetof(Block, tags);
}

void Host::connect_all() {
  for (const Field& f : record_fields()) {
    for (std::uint32_t slot = 0; slot < f.slots; ++slot) {
      connect(ParameterRef{&f, slot}.offset());
    }
  }
}

void Host::disconnect_all() {
  for (std::size_t i = 0; i < kWords; ++i) {
    block_.tags[i] = 0;
    connections_[i] = nullptr;
  }
  record_.connection_offset = 0;
}

void Host::set_connection_offset_enabled(bool enabled) {
  record_.connection_offset = enabled ? static_cast<std::int32_t>(offsetof(Block, tags)) : 0;
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
  const auto offset = static_cast<std::uint32_t>(static_cast<const unsigned char*>(parameter) -
                                                 reinterpret_cast<const unsigned char*>(&block_));
  if (offset >= sizeof(strataMix_params)) {
    return parameter;  // not a parameter of this host's record
  }
  if (sample.log != nullptr) {
    sample.log->push_back(offset);
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

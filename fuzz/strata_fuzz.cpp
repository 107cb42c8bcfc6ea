// Drives the built plug-in through the stand-in host with arbitrary bytes and
// checks, on every input, what must hold whatever the values:
//   - the call returns 1;
//   - it writes exactly the result field that its exit writes, the same bits
//     on a second run, and nothing around the result or the state;
//   - the gate and out-of-range exits copy baseColor, the normal exits the
//     state's normal, as they were read;
//   - it never writes the parameter record (the record and its tags are
//     read-only during the call) and never reads past it (they end at an
//     unreadable page);
//   - it asks the renderer only for connected parameters, each at most once;
//   - with nothing connected, the record read in place (a zero connection
//     offset) and read through the evaluation rule (every tag 0) give the
//     same writes, the same bits and the same normal; a NaN matches any NaN,
//     since which operand's payload a NaN result carries is the compiler's
//     choice of operand order, which two instantiations may make otherwise.
//
// Input layout (a short input reads as zero-filled):
//   [0, 304)    the parameter record, any bit pattern
//   [304, 308)  ray type
//   [308, 320)  incoming surface normal
//   [320]       bit 0: tags before the record (negative connection offset);
//               bit 1: tags set but the connection offset 0
//   [321, 331)  one bit per 4-byte word of the record: that word's tag is set
//   [331, ...)  what the connected shaders answer, one entry per evaluation
//               in call order: a control byte (bit 0: the connected shader
//               moves the state's normal, to the 12 bytes that follow), then
//               16 bytes of value
#include <sys/mman.h>
#include <unistd.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <type_traits>
#include <vector>

#include "blend_modes.h"
#include "fields.h"
#include "host.h"
#include "plugin.h"

namespace {

using strata::kBlendModeCount;
using strata::parameter_at;
using strata::host::Host;
using strata::host::Sample;

constexpr std::size_t kRecordSize = sizeof(strataMix_params);
constexpr std::size_t kTagSize = Host::kTagWords * sizeof(std::uint32_t);
constexpr std::size_t kAnswerSize = 16;

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "strata_fuzz: %s\n", what);
  std::abort();
}

void check(bool holds, const char* what) {
  if (!holds) {
    fail(what);
  }
}

// Takes bytes from the front of the input; past its end, zeros.
struct Reader {
  const std::uint8_t* data;
  std::size_t size;
  std::size_t pos = 0;

  void take(void* out, std::size_t n) {
    auto* dst = static_cast<std::uint8_t*>(out);
    for (std::size_t i = 0; i < n; ++i, ++pos) {
      dst[i] = pos < size ? data[pos] : 0;
    }
  }
  std::uint8_t byte() {
    std::uint8_t b;
    take(&b, 1);
    return b;
  }
};

// Two pages: the record and its tags fill the end of the first, the second
// is never readable, so a read past either area faults at once.
struct Pages {
  std::uint8_t* base;
  std::size_t page;
};

const Pages& pages() {
  static const Pages p = [] {
    const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    void* m = mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (m == MAP_FAILED || mprotect(static_cast<std::uint8_t*>(m) + page, page, PROT_NONE) != 0) {
      fail("cannot map the guard pages");
    }
    return Pages{static_cast<std::uint8_t*>(m), page};
  }();
  return p;
}

void set_record_writable(bool writable) {
  const Pages& p = pages();
  if (mprotect(p.base, p.page, writable ? PROT_READ | PROT_WRITE : PROT_READ) != 0) {
    fail("mprotect");
  }
}

// Either the tags end at the guard page (tags after the record) or the
// record does (tags before it).
strata::host::Placement place(bool tags_first) {
  std::uint8_t* end = pages().base + pages().page;
  if (tags_first) {
    auto* params = reinterpret_cast<strataMix_params*>(end - kRecordSize);
    return {params, reinterpret_cast<std::uint32_t*>(end - kRecordSize - kTagSize)};
  }
  auto* tags = reinterpret_cast<std::uint32_t*>(end - kTagSize);
  return {reinterpret_cast<strataMix_params*>(end - kTagSize - kRecordSize), tags};
}

const strata::host::Plugin& plugin() {
  static const strata::host::Plugin loaded(strata::host::plugin_beside_executable());
  return loaded;
}

// One input, decoded.
struct Case {
  strataMix_params record;
  std::int32_t ray;
  strataMix_vector incoming;
  bool tags_first;
  bool offset_enabled;
  std::uint8_t bitmap[(Host::kTagWords + 7) / 8];
  Reader answers;  // the rest of the input

  bool tagged(std::size_t word) const { return (bitmap[word / 8] >> (word % 8) & 1) != 0; }
  // Whether the shader must ask the renderer for the parameter at `offset`.
  bool connected(std::size_t offset) const { return offset_enabled && tagged(offset / 4); }
};

Case decode(const std::uint8_t* data, std::size_t size) {
  Reader in{data, size};
  Case c{};
  in.take(&c.record, sizeof c.record);
  in.take(&c.ray, sizeof c.ray);
  in.take(&c.incoming, sizeof c.incoming);
  const std::uint8_t flags = in.byte();
  c.tags_first = (flags & 1) != 0;
  c.offset_enabled = (flags & 2) == 0;
  in.take(c.bitmap, sizeof c.bitmap);
  c.answers = Reader{data, size, in.pos};
  return c;
}

// What the connected shaders answered in one call.
struct Answers {
  Reader stream;
  std::array<std::array<std::uint8_t, kAnswerSize>, Host::kTagWords> value{};
  std::array<bool, Host::kTagWords> given{};
  strataMix_vector normal{};  // the state's normal as the last answer left it
};

// Gives every tagged word a connected shader that answers from the stream.
// Words inside a colour or vector get tags too: the shader must never look
// at them.
void connect_words(Host& host, const Case& c, Answers& answers) {
  for (std::uint32_t word = 0; word < Host::kTagWords; ++word) {
    if (!c.tagged(word)) {
      continue;
    }
    host.connect(4 * word, [&answers, word](mi_state& state, void* value) {
      if (answers.stream.byte() & 1) {
        answers.stream.take(&state.normal, sizeof state.normal);
        answers.normal = state.normal;
      }
      answers.stream.take(answers.value[word].data(), kAnswerSize);
      answers.given[word] = true;
      std::memcpy(value, answers.value[word].data(), kAnswerSize);
    });
  }
  host.set_connection_offset_enabled(c.offset_enabled);
}

// The result and the state with guard bytes on both sides.
constexpr std::size_t kGuard = 32;
struct Guarded {
  std::uint8_t before_result[kGuard];
  strataMix_result result;
  std::uint8_t after_result[kGuard];
  std::uint8_t before_sample[kGuard];
  Sample sample;
  std::uint8_t after_sample[kGuard];
};

bool all_bytes(const void* p, std::size_t n, std::uint8_t b) {
  const auto* bytes = static_cast<const std::uint8_t*>(p);
  for (std::size_t i = 0; i < n; ++i) {
    if (bytes[i] != b) {
      return false;
    }
  }
  return true;
}

bool same_bits(const void* a, const void* b, std::size_t n) { return std::memcmp(a, b, n) == 0; }

struct Run {
  std::int32_t returned;
  strataMix_result result;
  strataMix_vector normal;
  std::vector<std::uint32_t> log;
};

// One call with the result and the state's surroundings filled with `fill`.
Run run_once(const Host& host, const Case& c, Answers& answers, std::uint8_t fill) {
  Run r;
  r.log.reserve(2 * Host::kTagWords);
  answers = Answers{};
  answers.stream = c.answers;
  answers.normal = c.incoming;
  auto g = std::make_unique<Guarded>();
  std::memset(g.get(), fill, sizeof *g);
  g->sample = host.make_sample(c.ray, c.incoming, &r.log);
  const Sample before = g->sample;

  // A write to the record or its tags faults here.
  set_record_writable(false);
  r.returned = plugin().shader()(&g->result, &g->sample.state,
                                 const_cast<strataMix_params*>(&host.params()));
  set_record_writable(true);

  check(all_bytes(g->before_result, kGuard, fill) && all_bytes(g->after_result, kGuard, fill),
        "wrote next to the result record");
  check(all_bytes(g->before_sample, kGuard, fill) && all_bytes(g->after_sample, kGuard, fill),
        "wrote next to the state");
  check(g->sample.state.ray_type == before.state.ray_type &&
            g->sample.state.shader == before.state.shader && g->sample.host == before.host &&
            g->sample.log == before.log,
        "wrote a field of the state other than its normal");
  r.result = g->result;
  r.normal = g->sample.state.normal;
  return r;
}

// The renderer was asked only for connected parameters, at their first
// byte, each at most once.
void check_log(const Case& c, const Run& r) {
  std::array<bool, Host::kTagWords> seen{};
  for (std::uint32_t offset : r.log) {
    const auto ref = parameter_at(offset);
    check(ref.has_value() && ref->offset() == offset, "evaluated an address inside a parameter");
    check(c.connected(offset), "evaluated a parameter that is not connected");
    check(!seen[offset / 4], "evaluated a parameter twice");
    seen[offset / 4] = true;
  }
}

enum class Writes { color, normal };

// What the exit taken must write: which field, and its bits where the flow
// alone decides them (a copy of baseColor or of the normal).
struct Expected {
  Writes field;
  bool known;
  std::array<std::uint8_t, sizeof(strataMix_color)> bits;
};

template <typename T>
Expected expect(Writes field, const T& value) {
  Expected e{field, true, {}};
  std::memcpy(e.bits.data(), &value, sizeof value);
  return e;
}

// Follows the flow of the call on the values the shader had to read: the
// connected shader's answer for a connected parameter, the record's own
// otherwise. Only switches, gates and the mode decide the exit; no float
// value is compared.
Expected expected_exit(const Host& host, const Case& c, const Answers& a, const Run& r) {
  const strataMix_params& p = host.params();
  auto value = [&](const auto& field) {
    const auto offset = static_cast<std::size_t>(reinterpret_cast<const std::uint8_t*>(&field) -
                                                 reinterpret_cast<const std::uint8_t*>(&p));
    std::remove_const_t<std::remove_reference_t<decltype(field)>> v = field;
    if (c.connected(offset)) {
      check(a.given[offset / 4], "decided on a connected parameter without evaluating it");
      std::memcpy(&v, a.value[offset / 4].data(), sizeof v);
    }
    return v;
  };
  const auto unchanged_normal = [&] {
    check(same_bits(&r.normal, &a.normal, sizeof r.normal),
          "changed the state's normal without running the normal stage");
  };

  if (value(p.normalEnable) != 0) {
    const bool normal_out = value(p.outputNormal) != 0;
    bool gate = value(p.skipPhotons) == 1 && strata::is_photon_or_final_gather_ray(c.ray);
    if (!gate) {
      gate = value(p.skipReflections) == 1 && strata::is_reflection_or_refraction_ray(c.ray);
    }
    if (gate) {
      unchanged_normal();
      return normal_out ? expect(Writes::normal, r.normal)
                        : expect(Writes::color, value(p.baseColor));
    }
    if (normal_out) {
      return expect(Writes::normal, r.normal);
    }
    if (value(p.normalAsColor) != 0) {
      return expect(Writes::color, strataMix_color{r.normal.x, r.normal.y, r.normal.z, 1.0f});
    }
  } else {
    unchanged_normal();
  }
  if (value(p.blendEnable) != 0 &&
      static_cast<std::uint32_t>(value(p.blendMode)) >= kBlendModeCount) {
    return expect(Writes::color, value(p.baseColor));
  }
  return Expected{Writes::color, false, {}};
}

const void* written_field(const Run& r, Writes field) {
  return field == Writes::color ? static_cast<const void*>(&r.result.outColor)
                                : static_cast<const void*>(&r.result.outNormal);
}

std::size_t field_size(Writes field) {
  return field == Writes::color ? sizeof(strataMix_color) : sizeof(strataMix_vector);
}

// The field the exit does not write still holds the fill.
void check_untouched(const Run& r, Writes written, std::uint8_t fill) {
  const Writes other = written == Writes::color ? Writes::normal : Writes::color;
  check(all_bytes(written_field(r, other), field_size(other), fill),
        "wrote the result field its exit does not write");
}

constexpr std::uint8_t kFillA = 0xa5;
constexpr std::uint8_t kFillB = 0x5a;

// The same floats, a NaN matching any NaN.
bool same_floats(const void* a, const void* b, std::size_t n) {
  for (std::size_t i = 0; i < n; i += sizeof(float)) {
    float x;
    float y;
    std::memcpy(&x, static_cast<const std::uint8_t*>(a) + i, sizeof x);
    std::memcpy(&y, static_cast<const std::uint8_t*>(b) + i, sizeof y);
    if (!(std::isnan(x) && std::isnan(y)) && !same_bits(&x, &y, sizeof x)) {
      return false;
    }
  }
  return true;
}

// The case's record with nothing connected, once with a zero connection
// offset (the plug-in's in-place reader) and once with every tag 0 (its
// evaluating reader): both runs must agree bit for bit.
void check_readers_agree(const Case& c) {
  Run runs[2];
  for (const bool by_rule : {false, true}) {
    Host host(place(c.tags_first));
    host.params() = c.record;
    host.set_connection_offset_enabled(by_rule);
    Answers none;
    runs[by_rule ? 1 : 0] = run_once(host, c, none, kFillA);
  }
  const Run& in_place = runs[0];
  const Run& by_rule = runs[1];
  check(in_place.returned == by_rule.returned && in_place.log.empty() && by_rule.log.empty(),
        "the two readers returned otherwise or asked the renderer");
  check(same_floats(&in_place.result, &by_rule.result, sizeof in_place.result) &&
            same_floats(&in_place.normal, &by_rule.normal, sizeof in_place.normal),
        "the record read in place and through the evaluation rule gave other writes or bits");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  plugin();
  pages();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Case c = decode(data, size);
  Host host(place(c.tags_first));
  host.params() = c.record;
  Answers answers;
  connect_words(host, c, answers);

  // Two runs with different fills: a written field holds the same bits in
  // both, an unwritten one its run's fill.
  const Run a = run_once(host, c, answers, kFillA);
  check(a.returned == 1, "returned something other than 1");
  check_log(c, a);
  const Expected e = expected_exit(host, c, answers, a);
  const Run b = run_once(host, c, answers, kFillB);

  check(same_bits(written_field(a, e.field), written_field(b, e.field), field_size(e.field)),
        "did not write the result field its exit writes, or wrote other bits on a second run");
  check(same_bits(&a.normal, &b.normal, sizeof a.normal) && a.log == b.log,
        "a second run left another normal or evaluated otherwise");
  check_untouched(a, e.field, kFillA);
  check_untouched(b, e.field, kFillB);
  if (e.known) {
    check(same_bits(written_field(a, e.field), e.bits.data(), field_size(e.field)),
          "the exit's copy differs from the value read");
  }
  check_readers_agree(c);
  return 0;
}

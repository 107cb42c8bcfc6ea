// Feeds arbitrary text to the preset parser, which `stratamix serve` runs on
// whatever a request's body holds, and checks on every input what must hold
// whatever the text:
//   - the parser returns a preset or throws PresetError, nothing else;
//   - an error begins "line N: " for a line N of the text, and says the same
//     N as its line;
//   - each assignment names a line of the text and a slot of its field, and
//     applies to a host without writing past the record;
//   - each pattern it connects gives a value at a point of the surface.
// The sanitizers watch the rest.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "host.h"
#include "pattern.h"
#include "preset.h"

namespace {

using strata::preview::PresetError;

void check(bool holds, const char* what) {
  if (!holds) {
    std::fprintf(stderr, "preset_fuzz: %s\n", what);
    std::abort();
  }
}

// CR, LF and CRLF each end a line.
int lines_in(std::string_view text) {
  int lines = 1;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool crlf = text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n';
    lines += text[i] == '\n' || (text[i] == '\r' && !crlf) ? 1 : 0;
  }
  return lines;
}

void apply(const strata::preview::Preset& preset, int lines) {
  // The record and its tags on the heap, each alone, so that a write past
  // either is the sanitizer's to see.
  const auto params = std::make_unique<strataMix_params>();
  const auto tags = std::make_unique<std::uint32_t[]>(strata::host::Host::kTagWords);
  strata::host::Host host({params.get(), tags.get()});
  strata::preview::set_preview_defaults(&host.params());
  strata::preview::apply_preset(preset, &host);

  strata::host::Sample sample = host.make_sample(strata::kRayEye, {0.0f, 0.6f, 0.8f});
  const strata::preview::SurfacePoint point{0.3f, 0.7f};
  sample.context = &point;
  for (const strata::preview::Assignment& a : preset.assignments) {
    check(a.line >= 1 && a.line <= lines, "an assignment names no line of the text");
    check(a.field != nullptr, "an assignment names no field");
    check(!a.slot || *a.slot < a.field->slots, "an assignment's slot lies outside its field");
    if (a.pattern) {
      const std::uint32_t offset = strata::ParameterRef{a.field, a.slot.value_or(0)}.offset();
      host.evaluate(sample, reinterpret_cast<unsigned char*>(&host.params()) + offset);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const int lines = lines_in(text);
  strata::preview::Preset preset;
  try {
    preset = strata::preview::parse_preset(text);
  } catch (const PresetError& e) {
    const std::string expected = "line " + std::to_string(e.line) + ": ";
    check(e.line >= 1 && e.line <= lines, "an error names no line of the text");
    check(std::string_view(e.what()).substr(0, expected.size()) == expected,
          "an error's message and its line disagree");
    return 0;
  }
  try {
    apply(preset, lines);
  } catch (const PresetError& e) {
    // A texture needs an image reader, which this target does not give the
    // preset; that refusal, at a texture's line, is the only one applying
    // may make.
    const bool at_texture = std::any_of(
        preset.assignments.begin(), preset.assignments.end(),
        [&](const strata::preview::Assignment& a) { return a.texture && a.line == e.line; });
    check(at_texture, "applying refused a line that names no texture");
  }
  return 0;
}

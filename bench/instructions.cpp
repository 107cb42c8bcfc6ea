// Runs one named path a fixed number of times inside measured_calls(), for
// instruction counts that do not depend on the machine's noise:
//
//   valgrind --tool=callgrind --toggle-collect='*measured_calls*'
//            strata_instructions PATH [shader|connected|floor] [CALLS]
//
// callgrind's "Collected" total divided by CALLS is the instructions per
// call. `list` prints the path names.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "floor.h"
#include "host.h"
#include "paths.h"
#include "plugin.h"

namespace {

using strata::bench::ShaderPath;

enum class Subject { shader, connected, floor };

struct Bench {
  const ShaderPath* path;
  Subject subject;
  strata::host::ShaderFn shader;
  strata::host::Host* host;
  strata::host::Sample* sample;
};

void one_call(const Bench& b, strataMix_result* result) {
  b.sample->state.normal = b.path->normal;
  if (b.subject == Subject::floor) {
    strata::bench::floor_call(b.host->params(), b.path->ray_type, &b.sample->state.normal, result);
  } else {
    b.shader(result, &b.sample->state, &b.host->params());
  }
}

[[gnu::noinline]] void measured_calls(const Bench& b, long calls, strataMix_result* result) {
  for (long i = 0; i < calls; ++i) {
    one_call(b, result);
  }
}

int usage() {
  std::fprintf(stderr, "usage: strata_instructions list | PATH [shader|connected|floor] [CALLS]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    return usage();
  }
  const std::string name = argv[1];
  if (name == "list") {
    for (const ShaderPath& p : strata::bench::shader_paths()) {
      std::printf("%s\n", p.name.c_str());
    }
    return 0;
  }
  const auto path = strata::bench::find_path(name);
  const std::string subject_name = argc > 2 ? argv[2] : "shader";
  const long calls = argc > 3 ? std::atol(argv[3]) : 1000;
  if (!path || calls <= 0 ||
      (subject_name != "shader" && subject_name != "connected" && subject_name != "floor")) {
    return usage();
  }
  const Subject subject = subject_name == "floor"       ? Subject::floor
                          : subject_name == "connected" ? Subject::connected
                                                        : Subject::shader;

  const strata::host::Plugin plugin(strata::host::plugin_beside_executable());
  strata::host::Host host;
  host.params() = path->params;
  if (subject == Subject::connected) {
    host.connect_all();
  }
  strata::host::Sample sample = host.make_sample(path->ray_type, path->normal);
  const Bench b{&*path, subject, plugin.shader(), &host, &sample};
  strataMix_result result{};
  // The first call binds the plug-in's imports; it is not measured.
  one_call(b, &result);
  measured_calls(b, calls, &result);
  std::printf("%s %s: %ld calls\n", name.c_str(), subject_name.c_str(), calls);
  return 0;
}

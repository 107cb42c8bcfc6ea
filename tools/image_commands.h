// The commands that need the images' libraries: the preview, with
// OpenImageIO, and what renders through it (the bake, also with assimp;
// serve, also with libmicrohttpd); and describe, whose description holds
// the preview's lists and the server's limits. Where the preview is built
// they run in a program of their own beside stratamix, which links none of
// those libraries (their start-up alone outweighs a scene check's whole
// run) and hands them over; both programs list them by this one table.
#ifndef STRATAMIX_TOOLS_IMAGE_COMMANDS_H
#define STRATAMIX_TOOLS_IMAGE_COMMANDS_H

#include <array>
#include <cstddef>
#include <iosfwd>
#include <string>
#include <string_view>

#include "command.h"

namespace strata::tools {

enum class ImageCommandId { describe, preview, bake, serve };

struct ImageCommandEntry {
  ImageCommandId id;
  std::string_view name;
  std::string_view summary;  // its help, and its line in stratamix --help
  std::string_view lacking;  // why a build lacks it; empty where none does
};

// In the order stratamix --help lists them, each after the commands given
// before it in tools/stratamix.cpp.
inline constexpr std::array kImageCommands = {
    ImageCommandEntry{
        ImageCommandId::describe, "describe",
        "Prints the description of the shader's contract as JSON: the record's fields, the "
        "blend modes, the ray types, and the preview's patterns, shapes and sheets where this "
        "build has the preview.",
        ""},
    ImageCommandEntry{
        ImageCommandId::preview, "preview",
        "Without presets, renders the contact sheets (every blend mode, colour correction, "
        "normal layering); with presets, renders each preset file, and with scenes each "
        "strataMix instance in them. Writes NAME.png and NAME.exr "
        "(the float values) into the output folder.",
        "built without the preview (it needs OpenImageIO: tools/install-deps.sh preview, then "
        "configure again)"},
    ImageCommandEntry{
        ImageCommandId::bake, "bake",
        "Bakes a look into texture maps on a mesh's UVs: LOOK_MAP.UDIM.exr (float) and .png (8 "
        "bits, to look at) for each map and UDIM tile, every texel the plug-in's own answers.",
        "built without the bake (it needs the preview and assimp: tools/install-deps.sh preview "
        "bake, then configure again)"},
    ImageCommandEntry{
        ImageCommandId::serve, "serve",
        "Serves the look-development page: a control for every parameter and the preview's "
        "picture, rendered live. Stops on Ctrl-C (SIGINT) or SIGTERM.",
        "built without serve (it needs the preview and libmicrohttpd: tools/install-deps.sh "
        "preview serve, then configure again)"},
};
static_assert(in_enum_order(kImageCommands, &ImageCommandEntry::id), "kImageCommands out of order");

constexpr const ImageCommandEntry& image_command(ImageCommandId id) {
  return kImageCommands[static_cast<std::size_t>(id)];
}

// The subcommand of `id`, named and summarised by its entry.
inline CLI::App* add_image_subcommand(CLI::App& root, ImageCommandId id) {
  const ImageCommandEntry& entry = image_command(id);
  return root.add_subcommand(std::string(entry.name), std::string(entry.summary));
}

// The command `id` as a build that lacks it has it: its line understood,
// and answered with the entry's reason.
inline Command add_lacking_image_command(CLI::App& root, ImageCommandId id, std::ostream& err) {
  const ImageCommandEntry& entry = image_command(id);
  return add_missing_command(root, std::string(entry.name), std::string(entry.lacking), err);
}

// Adds the command `id` to `root` as this program has it: run here, handed
// over with the whole command line `argv`, or missing from the build with
// its entry's reason. Each program links one definition.
Command add_image_command(CLI::App& root, ImageCommandId id, char** argv, std::ostream& out,
                          std::ostream& err);

}  // namespace strata::tools

#endif  // STRATAMIX_TOOLS_IMAGE_COMMANDS_H

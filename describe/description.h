// The one machine-readable description of the shader's contract, made from
// the C++ tables: the record's fields and the small tables that name their
// types, kinds and stages, the result record, the switches the flow routes
// by, the blend modes and the kinds of ray; and, in a build that has them,
// the preview's patterns, shapes and sheets and the server's limits, with
// the parts a build lacks said so. `stratamix describe` prints it, GET
// /api/fields answers it, the build keeps it as description.json for the
// Python generators and comparers, and the page makes its controls from it.
#ifndef STRATAMIX_DESCRIBE_DESCRIPTION_H
#define STRATAMIX_DESCRIBE_DESCRIPTION_H

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace strata::describe {

using Document = nlohmann::ordered_json;

// The lists that exist only with a part of the build, each an object whose
// members join the description's own.
struct Lists {
  std::optional<Document> preview;  // patterns, shapes, sheets
  std::optional<Document> serve;    // limits
};

// The contract: what every build of the plug-in and its tools shares.
Document contract();

// The preview's lists; linked only into builds that have the preview.
Document preview_lists();

// The whole description, as text: the contract with `lists` joined in, and
// "parts" saying which of them the build has.
std::string description_json(const Lists& lists);

}  // namespace strata::describe

#endif  // STRATAMIX_DESCRIBE_DESCRIPTION_H

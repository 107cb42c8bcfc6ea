// The page's files, built into the program when it is compiled
// (embed_page.cmake), so that no request ever reads the file system.
#ifndef STRATAMIX_SERVE_ASSETS_H
#define STRATAMIX_SERVE_ASSETS_H

#include <string_view>

namespace strata::serve {

struct Asset {
  std::string_view path;  // "/" for the page, "/app.js", ...
  std::string_view type;  // its Content-Type
  std::string_view body;
};

// The asset served at exactly this path, or null.
const Asset* find_asset(std::string_view path);

}  // namespace strata::serve

#endif  // STRATAMIX_SERVE_ASSETS_H

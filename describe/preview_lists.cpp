// The lists that exist only with the preview: the patterns a preset connects,
// the shapes it renders on, the contact sheets.
#include "catalogue.h"
#include "description.h"
#include "fields.h"
#include "pattern.h"
#include "render.h"

namespace strata::describe {

Document preview_lists() {
  Document patterns = Document::array();
  for (const preview::PatternEntry& p : preview::kPatterns) {
    Document types = Document::array();
    for (const FieldTypeEntry& t : kFieldTypes) {
      if (preview::pattern_connects_to(p.kind, t.type)) {
        types.push_back(t.name);
      }
    }
    patterns.push_back({{"name", p.name},
                        {"description", p.description},
                        {"arguments", p.arguments},
                        {"usage", p.usage},
                        {"types", types}});
  }
  Document shapes = Document::array();
  for (const preview::ShapeEntry& s : preview::kShapes) {
    shapes.push_back({{"name", s.name}, {"description", s.description}});
  }
  Document sheets = Document::array();
  for (const preview::SheetEntry& s : preview::kSheets) {
    sheets.push_back({{"name", s.name}, {"description", s.description}});
  }
  return {{"patterns", patterns}, {"shapes", shapes}, {"sheets", sheets}};
}

}  // namespace strata::describe

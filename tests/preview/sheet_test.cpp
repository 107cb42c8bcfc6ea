// Each contact sheet against its reference picture in tests/reference, so
// that a change in any blend mode, correction or normal layering shows up as
// a failing picture. Set STRATAMIX_REGENERATE_REFERENCES=1 to write the
// references anew from the current plug-in (then look at them before
// committing).
#include "sheet.h"

#include <OpenImageIO/imagebufalgo.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "catalogue.h"
#include "support.h"

namespace strata::preview {
namespace {

// The references are rendered small, one sample per pixel, so that they
// stay small in the repository and quick to render.
constexpr int kReferenceCell = 40;

// The references hold half floats, which round a value v by up to
// |v| * 2^-11; the sheets' values lie within [-2, 4], so storage alone may
// move a channel by up to 2^-9 (about 0.002). The wide and the single float
// models differ far less: in these sheets by at most 1.5e-6, in a dozen lit
// pixels of the normal sheet. A channel that differs from its reference by
// more than twice the storage error fails; one reference serves both models.
constexpr float kFailThreshold = 0.004f;
// Warnings start at the storage error itself.
constexpr float kWarnThreshold = 0.002f;
// Pixels allowed past kFailThreshold: none have been seen, but a model may
// take the other branch at a rounding edge (a hue sector boundary, a clamp)
// where a ramp crosses it exactly.
constexpr unsigned kMaxFailingPixels = 2;

SheetLayout reference_layout() {
  SheetLayout layout = layout_for(kReferenceCell);
  layout.aa = 1;
  return layout;
}

std::string reference_path(const std::string& sheet) {
  return std::string(STRATAMIX_REFERENCE_DIR) + "/" + sheet + ".exr";
}

bool regenerating() {
  const char* flag = std::getenv("STRATAMIX_REGENERATE_REFERENCES");
  return flag != nullptr && std::string(flag) == "1";
}

const Sheet& sheet_named(const std::string& name) {
  static const std::vector<Sheet> sheets = default_sheets();
  for (const Sheet& s : sheets) {
    if (s.name == name) {
      return s;
    }
  }
  throw std::runtime_error("no sheet " + name);
}

OIIO::ImageBuf render_values(const Sheet& sheet) {
  return render_sheet(sheet, test::plugin().shader(), reference_layout(), render_threads()).values;
}

void write_half_exr(const OIIO::ImageBuf& image, const std::string& path) {
  OIIO::ImageBuf copy = image;
  copy.set_write_format(OIIO::TypeDesc::HALF);
  copy.specmod().attribute("compression", "zip");
  ASSERT_TRUE(copy.write(path)) << path << ": " << copy.geterror();
}

// The comparison of a rendered sheet with its reference; none when the
// reference cannot be read. (The result's own error flag only tells that
// some pixel failed.)
std::optional<OIIO::ImageBufAlgo::CompareResults> compare_with_reference(
    const OIIO::ImageBuf& values, const std::string& name) {
  OIIO::ImageBuf reference(reference_path(name));
  if (!reference.read(0, 0, true, OIIO::TypeDesc::FLOAT)) {
    ADD_FAILURE() << "cannot read " << reference_path(name) << ": " << reference.geterror()
                  << "\n(write it with STRATAMIX_REGENERATE_REFERENCES=1)";
    return std::nullopt;
  }
  EXPECT_EQ(reference.roi().width(), values.roi().width()) << name << ": the layout changed";
  EXPECT_EQ(reference.roi().height(), values.roi().height()) << name << ": the layout changed";
  return OIIO::ImageBufAlgo::compare(values, reference, kFailThreshold, kWarnThreshold);
}

class SheetReference : public ::testing::TestWithParam<const char*> {};

TEST_P(SheetReference, MatchesItsReference) {
  const std::string name = GetParam();
  const OIIO::ImageBuf values = render_values(sheet_named(name));
  if (regenerating()) {
    write_half_exr(values, reference_path(name));
    GTEST_SKIP() << "wrote " << reference_path(name);
  }
  const auto compared = compare_with_reference(values, name);
  ASSERT_TRUE(compared);
  const OIIO::ImageBufAlgo::CompareResults& r = *compared;
  if (r.nfail > kMaxFailingPixels) {
    const std::string actual = std::string(STRATAMIX_ACTUAL_DIR) + "/" + name + ".actual.exr";
    write_half_exr(values, actual);
    ADD_FAILURE() << name << ": " << r.nfail << " pixels differ by more than " << kFailThreshold
                  << " (" << kMaxFailingPixels << " allowed); largest difference " << r.maxerror
                  << " at pixel " << r.maxx << ", " << r.maxy << ", channel " << r.maxc << "; mean "
                  << r.meanerror << "\nrendered: " << actual
                  << "\nreference: " << reference_path(name);
  }
}

INSTANTIATE_TEST_SUITE_P(Sheets, SheetReference,
                         ::testing::Values("blend-modes", "color-correct", "normals"),
                         [](const ::testing::TestParamInfo<const char*>& param) {
                           std::string n = param.param;
                           for (char& c : n) {
                             c = c == '-' ? '_' : c;
                           }
                           return n;
                         });

TEST(Sheet, BlendModesShowsEveryModeOnceInOrderThenItsTwoRamps) {
  const Sheet& sheet = sheet_named("blend-modes");
  ASSERT_EQ(sheet.cells.size(), 25u);
  for (int mode = 0; mode < 23; ++mode) {
    SCOPED_TRACE("mode " + std::to_string(mode));
    const Cell& cell = sheet.cells[static_cast<std::size_t>(mode)];
    EXPECT_EQ(cell.label.rfind(std::to_string(mode) + " ", 0), 0u) << cell.label;
    host::Host h;
    set_preview_defaults(&h.params());
    apply_preset(cell.preset, &h);
    EXPECT_EQ(h.params().blendMode, mode);
    EXPECT_EQ(h.params().blendEnable, 1);
  }
  // The base alone (blending off), then the layer alone: replace without
  // the layer's alpha.
  struct Row {
    std::size_t cell;
    const char* label;
    std::int32_t blend_enable;
    std::int32_t mode;
  };
  const Row rows[] = {{23, "base", 0, 0}, {24, "layer, alpha 0.75", 1, 1}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.label);
    const Cell& cell = sheet.cells[r.cell];
    EXPECT_EQ(cell.label, r.label);
    host::Host h;
    set_preview_defaults(&h.params());
    apply_preset(cell.preset, &h);
    EXPECT_EQ(h.params().blendEnable, r.blend_enable);
    EXPECT_EQ(h.params().blendMode, r.mode);
    EXPECT_EQ(h.params().useLayerAlpha, 0);
  }
}

TEST(Sheet, ASmallChangeInOneModeFailsThePicture) {
  // The thresholds must still see a blend amount of 0.98 instead of 1 in a
  // single cell (average, mode 12).
  if (regenerating()) {
    GTEST_SKIP() << "references are being written";
  }
  Sheet changed = sheet_named("blend-modes");
  const Preset amount = parse_preset("blendAmount = 0.98\n");
  changed.cells[12].preset.assignments.push_back(amount.assignments[0]);
  const auto compared = compare_with_reference(render_values(changed), "blend-modes");
  ASSERT_TRUE(compared);
  EXPECT_GT(compared->nfail, kMaxFailingPixels) << "largest difference " << compared->maxerror;
}

}  // namespace
}  // namespace strata::preview

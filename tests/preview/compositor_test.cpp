// The compositor: how a cell's result and its lit normal are shown.
#include "compositor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace strata::preview {
namespace {

TEST(Compositor, LightingIsOneLightWithAmbient) {
  // Facing away from the light and the viewer: only the ambient term.
  EXPECT_FLOAT_EQ(lit({0.4508f, -0.5510f, -0.7022f}), 0.06f);
  EXPECT_EQ(lit({0, 0, 0}), 0.0f) << "a zero normal is black";
  EXPECT_EQ(lit({std::numeric_limits<float>::infinity(), 0, 1}), 0.06f) << "no direction: ambient";
  EXPECT_EQ(lit({3e19f, 3e19f, 0}), 0.06f) << "a length past the floats: ambient";
  EXPECT_TRUE(std::isnan(lit({std::numeric_limits<float>::quiet_NaN(), 0, 1})));
  EXPECT_EQ(lit({0, 0, 2}), lit({0, 0, 1})) << "lit by direction, not length";
  EXPECT_GT(lit({-0.45f, 0.55f, 0.7f}), lit({0.45f, -0.55f, 0.7f})) << "lit from the upper left";
}

TEST(Compositor, DisplayClampsColoursAndMapsNormals) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  struct Row {
    ResultKind kind;
    float in[4];
    std::array<float, 3> out;
    const char* edge;
  };
  const Row rows[] = {
      {ResultKind::color, {0.25f, 1.5f, -0.5f, 1}, {0.25f, 1, 0}, "clamped to [0, 1]"},
      {ResultKind::normal_vector, {-1, 0, 1, 1}, {0, 0.5f, 1}, "[-1, 1] onto [0, 1]"},
      {ResultKind::normal_color, {0.5f, -0.5f, 0, 1}, {0.75f, 0.25f, 0.5f}, "the same"},
      {ResultKind::color, {0.5f, nan, 0.5f, 1}, {1, 0, 1}, "NaN shows magenta"},
      {ResultKind::color, {inf, 0, 0, 1}, {1, 0, 1}, "infinity shows magenta"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.edge);
    EXPECT_EQ(display_color(r.kind, r.in), r.out);
  }
}

TEST(Compositor, ATitleWiderThanItsPictureStaysInsideIt) {
  // A picture of one empty cell labelled "result" is as wide as the cell and
  // its margins (max(6, cell / 8) each side). Whatever its title, the right
  // margin holds only the background (0.14), and so does the cell's square,
  // which lies one row (the cell and two label heights, clamp(cell / 7, 9,
  // 16) each) above the bottom: the title is drawn smaller, or in more
  // lines, above it.
  const std::string path = "preset /home/someone/looks/for-the-long-shot/overlay-checker.preset";
  struct Row {
    std::string title;
    int cell;
    const char* edge;
  };
  const Row rows[] = {
      {"normals", 96, "a short title"},
      {"preset preview/presets/layered-bumps.preset", 128, "a little too wide: smaller"},
      {path, 40, "a path: broken after its slashes"},
      {"preset " + std::string(90, 'x'), 16, "a word wider than a line: between letters"},
      {"r\xc3\xa9glage " + std::string(30, 'e') + "\xc3\xa9\xc3\xa9\xc3\xa9", 16,
       "two-byte letters kept whole"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.edge);
    const SheetLayout layout = layout_for(r.cell);
    SheetPicture picture(r.title, {"result"}, 1, 1, layout);
    const OIIO::ImageBuf image = picture.finish().display;
    const int width = image.spec().width;
    const int height = image.spec().height;
    const int margin = std::max(6, r.cell / 8);
    const int cell_top = height - (r.cell + 2 * std::clamp(r.cell / 7, 9, 16));
    ASSERT_GT(cell_top, 0);
    int title_pixels = 0;
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        float pixel[3];
        image.getpixel(x, y, pixel, 3);
        const bool background = pixel[0] == 0.14f && pixel[1] == 0.14f && pixel[2] == 0.14f;
        if (x >= width - margin) {
          ASSERT_TRUE(background) << "the title reaches the right margin at " << x << ", " << y;
        }
        if (y >= cell_top && y < cell_top + r.cell) {
          ASSERT_TRUE(background) << "the title runs into the cell at " << x << ", " << y;
        }
        title_pixels += y < cell_top && !background ? 1 : 0;
      }
    }
    EXPECT_GT(title_pixels, 0) << "no title drawn";
  }
}

TEST(Compositor, CellPicturesAreOneSizeWithTheirPanelsCentred) {
  // Cells under labels of different widths, each panel a flat colour (a
  // channel of 0.5 shows as 0.5): every cell's picture is as wide as the
  // widest column, its panel cell x cell at the top with equal margins left
  // and right, and its label's white pixels (below the panel, where the
  // text's edges may also be 0.5) as far from either edge, to two pixels:
  // the glyphs' own side bearings and rounding.
  struct Row {
    std::vector<std::string> labels;
    int cell;
    const char* edge;
  };
  const Row rows[] = {
      {{"0 over", "4 add normalised", "layer, alpha 0.75", "9"}, 40, "labels wider than the cell"},
      {{"a", "bb"}, 64, "labels narrower than the cell"},
      {{"odd", "a label of odd width, wider still"}, 33, "an odd cell"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.edge);
    SheetLayout layout = layout_for(r.cell);
    layout.cell_pictures = true;
    SheetPicture picture("cells", r.labels, 3, 1, layout);
    Frame frame;
    frame.width = frame.height = r.cell;
    frame.result.assign(static_cast<std::size_t>(r.cell * r.cell) * 4, 0.5f);
    frame.normal.assign(static_cast<std::size_t>(r.cell * r.cell) * 3, 0.0f);
    frame.coverage.assign(static_cast<std::size_t>(r.cell * r.cell), 1.0f);
    for (std::size_t i = 0; i < r.labels.size(); ++i) {
      picture.place(i, frame);
    }
    const SheetImages images = picture.finish();
    ASSERT_EQ(images.cells.size(), r.labels.size());
    const int width = images.cells[0].spec().width;
    const int height = images.cells[0].spec().height;
    for (std::size_t i = 0; i < images.cells.size(); ++i) {
      SCOPED_TRACE(r.labels[i]);
      const OIIO::ImageBuf& cell = images.cells[i];
      ASSERT_EQ(cell.spec().width, width);
      ASSERT_EQ(cell.spec().height, height);
      int panel_left = width;
      int panel_right = -1;
      int text_left = width;
      int text_right = -1;
      for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
          float pixel[3];
          cell.getpixel(x, y, pixel, 3);
          if (y < r.cell && pixel[0] == 0.5f && pixel[1] == 0.5f && pixel[2] == 0.5f) {
            panel_left = std::min(panel_left, x);
            panel_right = std::max(panel_right, x);
          } else if (y >= r.cell && pixel[0] > 0.5f) {
            text_left = std::min(text_left, x);
            text_right = std::max(text_right, x);
          }
        }
      }
      EXPECT_EQ(panel_right - panel_left + 1, r.cell);
      EXPECT_EQ(panel_left, width - 1 - panel_right) << "the panel is off centre";
      ASSERT_LE(text_left, text_right) << "no label drawn";
      EXPECT_NEAR(text_left, width - 1 - text_right, 2) << "the label is off centre";
    }
  }
}

}  // namespace
}  // namespace strata::preview

#include "maps.h"

#include <OpenImageIO/imagebufalgo.h>
#include <OpenImageIO/imageio.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace strata::bake {
namespace {

// The push-pull fill holds about three and a half copies of what it fills;
// channels are filled a few at a time so that this stays near this bound.
constexpr double kFillBytes = 400.0 * 1024 * 1024;

std::size_t texels_of(const MapView& map) {
  return static_cast<std::size_t>(map.size) * static_cast<std::size_t>(map.size);
}

std::string one_line(std::string text) {
  std::replace(text.begin(), text.end(), '\n', ' ');
  while (!text.empty() && text.back() == ' ') {
    text.pop_back();
  }
  return text.empty() ? "OpenImageIO gave no reason" : text;
}

// Fills the holes of channels [first, first + count) and cuts them to the
// reach.
void pad_channels(const MapView& map, const float* coverage, const std::vector<float>& reach,
                  int first, int count) {
  OIIO::ImageSpec header(map.size, map.size, count + 1, OIIO::TypeDesc::FLOAT);
  header.alpha_channel = count;
  OIIO::ImageBuf fill(header);
  auto* px = static_cast<float*>(fill.localpixels());
  const std::size_t texels = texels_of(map);
  const auto stride = static_cast<std::size_t>(map.channels);
  const auto width = static_cast<std::size_t>(count) + 1;
  for (std::size_t t = 0; t < texels; ++t) {
    for (std::size_t c = 0; c < static_cast<std::size_t>(count); ++c) {
      px[t * width + c] = map.texels[t * stride + static_cast<std::size_t>(first) + c];
    }
    px[t * width + static_cast<std::size_t>(count)] = coverage[t];
  }
  // A NaN or an infinity of the shader's stays in its own texel, and does
  // not spread into the fill.
  int nonfinite = 0;
  if (!OIIO::ImageBufAlgo::fixNonFinite(fill, fill, OIIO::ImageBufAlgo::NONFINITE_BLACK,
                                        &nonfinite) ||
      !OIIO::ImageBufAlgo::premult(fill, fill) ||
      !OIIO::ImageBufAlgo::fillholes_pushpull(fill, fill)) {
    throw std::runtime_error("cannot pad a map: " + one_line(fill.geterror()));
  }
  // The cut: covered texels as they were, holes in the reach filled, the
  // rest 0, in place.
  const float* within = reach.data();
  for (std::size_t t = 0; t < texels; ++t) {
    if (coverage[t] > 0.0f) {
      continue;
    }
    for (std::size_t c = 0; c < static_cast<std::size_t>(count); ++c) {
      map.texels[t * stride + static_cast<std::size_t>(first) + c] =
          within[t] > 0.0f ? px[t * width + c] : 0.0f;
    }
  }
}

std::vector<std::string> channel_names(int channels) {
  switch (channels) {
    case 1:
      return {"Y"};
    case 3:
      return {"R", "G", "B"};
    default:
      return {"R", "G", "B", "A"};
  }
}

OIIO::ImageSpec map_header(const MapView& map, const MapMetadata& metadata, int channels,
                           const OIIO::TypeDesc& format) {
  OIIO::ImageSpec header(map.size, map.size, channels, format);
  header.channelnames = channel_names(channels);
  header.alpha_channel = channels == 4 ? 3 : -1;
  header.attribute("Software", metadata.version);
  header.attribute("strataMix:look", metadata.look);
  header.attribute("strataMix:mesh", metadata.mesh);
  header.attribute("strataMix:version", metadata.version);
  header.attribute("strataMix:map", metadata.map);
  header.attribute("strataMix:udim", metadata.udim);
  // The values are the shader's, not a picture's: no transfer curve.
  header.attribute("oiio:ColorSpace", "Linear");
  // No date: the same bake gives the same bytes.
  header.attribute("DateTime", "");
  return header;
}

// Writes `channels` of the map's channels (the first ones) as `format`.
void write_file(const MapView& map, const OIIO::ImageSpec& header, const char* format_name,
                const std::string& temporary, const std::string& final_path) {
  const auto out = OIIO::ImageOutput::create(format_name);
  const auto stride = static_cast<OIIO::stride_t>(sizeof(float)) * map.channels;
  if (!out || !out->open(temporary, header) ||
      !out->write_image(OIIO::TypeDesc::FLOAT, map.texels, stride) || !out->close()) {
    throw std::runtime_error("cannot write " + final_path + ": " +
                             one_line(out ? out->geterror() : OIIO::geterror()));
  }
}

}  // namespace

std::vector<float> padding_reach(const float* coverage, int size, int padding) {
  // A square window is a row's window, then a column's: the maximum over
  // 2 padding + 1 texels along each row, then the maximum of 2 padding + 1
  // of those rows, a whole row at a time so that memory is read in order.
  // Written here rather than with OpenImageIO 2.4's dilate, which reads its
  // whole window through a pixel iterator for every texel: at 4096 with a
  // padding of 8, on one core of the EPYC we measure on, eight 3 x 3
  // dilations take 18 s (one 17 x 17 takes 40 s) where this takes 0.4 s.
  // Its one-row window cannot make it separable: it lands a row off centre.
  const auto n = static_cast<std::size_t>(size);
  const auto reach = static_cast<std::size_t>(std::max(padding, 0));
  std::vector<float> rows(n * n, 0.0f);
  for (std::size_t y = 0; y < n; ++y) {
    const float* in = coverage + y * n;
    float* to = rows.data() + y * n;
    for (std::size_t x = 0; x < n; ++x) {
      const std::size_t last = std::min(n - 1, x + reach);
      float most = 0.0f;
      for (std::size_t j = x > reach ? x - reach : 0; j <= last; ++j) {
        most = std::max(most, in[j]);
      }
      to[x] = most;
    }
  }
  std::vector<float> out(n * n, 0.0f);
  for (std::size_t y = 0; y < n; ++y) {
    float* to = out.data() + y * n;
    const std::size_t last = std::min(n - 1, y + reach);
    for (std::size_t j = y > reach ? y - reach : 0; j <= last; ++j) {
      const float* in = rows.data() + j * n;
      for (std::size_t x = 0; x < n; ++x) {
        to[x] = std::max(to[x], in[x]);
      }
    }
  }
  return out;
}

void pad_map(const MapView& map, const float* coverage, const std::vector<float>& reach) {
  const double per_channel = 3.5 * 4.0 * static_cast<double>(texels_of(map));
  const int group = std::clamp(static_cast<int>(kFillBytes / per_channel) - 1, 1, map.channels);
  for (int first = 0; first < map.channels; first += group) {
    pad_channels(map, coverage, reach, first, std::min(group, map.channels - first));
  }
}

PendingFiles::~PendingFiles() { discard(); }

std::string PendingFiles::add(const std::string& final_path) {
  files_.emplace_back(final_path + ".partial", final_path);
  return files_.back().first;
}

std::vector<std::string> PendingFiles::commit() {
  std::vector<std::string> done;
  for (const auto& [temporary, final_path] : files_) {
    std::error_code ec;
    std::filesystem::rename(temporary, final_path, ec);
    if (ec) {
      std::string message = "cannot rename " + temporary;
      message += " to " + final_path + ": " + ec.message();
      throw std::runtime_error(message);
    }
    done.push_back(final_path);
  }
  files_.clear();
  return done;
}

void PendingFiles::discard() {
  for (const auto& [temporary, final_path] : files_) {
    std::error_code ec;
    std::filesystem::remove(temporary, ec);
  }
  files_.clear();
}

void write_map_files(const MapView& map, const MapMetadata& metadata, const std::string& stem,
                     PendingFiles* files) {
  OIIO::ImageSpec exr = map_header(map, metadata, map.channels, OIIO::TypeDesc::FLOAT);
  exr.attribute("compression", "zip");
  write_file(map, exr, "openexr", files->add(stem + ".exr"), stem + ".exr");
  // To look at: 8 bits, and a colour without its alpha.
  const OIIO::ImageSpec png =
      map_header(map, metadata, std::min(map.channels, 3), OIIO::TypeDesc::UINT8);
  write_file(map, png, "png", files->add(stem + ".png"), stem + ".png");
}

void write_map_texture(const MapView& map, const MapMetadata& metadata, const std::string& stem,
                       PendingFiles* files) {
  const OIIO::ImageSpec header = map_header(map, metadata, map.channels, OIIO::TypeDesc::FLOAT);
  const OIIO::ImageBuf image(header, map.texels);
  OIIO::ImageSpec config;
  config.attribute("maketx:fileformatname", "tiff");
  // Each mip level the box average of the one above: the padded islands
  // stay apart as far down as the padding allows.
  config.attribute("maketx:filtername", "box");
  const std::string final_path = stem + ".tx";
  if (!OIIO::ImageBufAlgo::make_texture(OIIO::ImageBufAlgo::MakeTxTexture, image,
                                        files->add(final_path), config)) {
    throw std::runtime_error("cannot write " + final_path + ": " + one_line(OIIO::geterror()));
  }
}

}  // namespace strata::bake

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
void pad_channels(const MapView& map, const float* coverage, const OIIO::ImageBuf& reach, int first,
                  int count) {
  OIIO::ImageSpec spec(map.size, map.size, count + 1, OIIO::TypeDesc::FLOAT);
  spec.alpha_channel = count;
  OIIO::ImageBuf fill(spec);
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
  const auto* within = static_cast<const float*>(reach.localpixels());
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

OIIO::ImageSpec map_spec(const MapView& map, const MapMetadata& metadata, int channels,
                         const OIIO::TypeDesc& format) {
  OIIO::ImageSpec spec(map.size, map.size, channels, format);
  spec.channelnames = channel_names(channels);
  spec.alpha_channel = channels == 4 ? 3 : -1;
  spec.attribute("Software", metadata.version);
  spec.attribute("strataMix:look", metadata.look);
  spec.attribute("strataMix:mesh", metadata.mesh);
  spec.attribute("strataMix:version", metadata.version);
  spec.attribute("strataMix:map", metadata.map);
  spec.attribute("strataMix:udim", metadata.udim);
  // The values are the shader's, not a picture's: no transfer curve.
  spec.attribute("oiio:ColorSpace", "Linear");
  // No date: the same bake gives the same bytes.
  spec.attribute("DateTime", "");
  return spec;
}

// Writes `channels` of the map's channels (the first ones) as `format`.
void write_file(const MapView& map, const OIIO::ImageSpec& spec, const char* format_name,
                const std::string& temporary, const std::string& final_path) {
  const auto out = OIIO::ImageOutput::create(format_name);
  const auto stride = static_cast<OIIO::stride_t>(sizeof(float)) * map.channels;
  if (!out || !out->open(temporary, spec) ||
      !out->write_image(OIIO::TypeDesc::FLOAT, map.texels, stride) || !out->close()) {
    throw std::runtime_error("cannot write " + final_path + ": " +
                             one_line(out ? out->geterror() : OIIO::geterror()));
  }
}

}  // namespace

OIIO::ImageBuf padding_reach(const float* coverage, int size, int padding) {
  const OIIO::ImageSpec spec(size, size, 1, OIIO::TypeDesc::FLOAT);
  // The coverage itself, not a copy: the dilation only reads it.
  OIIO::ImageBuf reach(spec, const_cast<float*>(coverage));
  // Each 3 x 3 dilation grows the covered texels by one in every direction
  // (a square); `padding` of them reach as far as one of 2 padding + 1 a
  // side, at a ninth of its reads for a padding of 8. (OpenImageIO 2.4's
  // dilation over one row or column is off centre, so a square is not
  // made of those.)
  for (int step = 0; step < padding; ++step) {
    reach = OIIO::ImageBufAlgo::dilate(reach, 3, 3);
    if (reach.has_error()) {
      throw std::runtime_error("cannot pad a map: " + one_line(reach.geterror()));
    }
  }
  return reach;
}

void pad_map(const MapView& map, const float* coverage, const OIIO::ImageBuf& reach) {
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
  OIIO::ImageSpec exr = map_spec(map, metadata, map.channels, OIIO::TypeDesc::FLOAT);
  exr.attribute("compression", "zip");
  write_file(map, exr, "openexr", files->add(stem + ".exr"), stem + ".exr");
  // To look at: 8 bits, and a colour without its alpha.
  const OIIO::ImageSpec png =
      map_spec(map, metadata, std::min(map.channels, 3), OIIO::TypeDesc::UINT8);
  write_file(map, png, "png", files->add(stem + ".png"), stem + ".png");
}

void write_map_texture(const MapView& map, const MapMetadata& metadata, const std::string& stem,
                       PendingFiles* files) {
  const OIIO::ImageSpec spec = map_spec(map, metadata, map.channels, OIIO::TypeDesc::FLOAT);
  const OIIO::ImageBuf image(spec, map.texels);
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

// Feeds generated triangle soups to the bake's mesh reader and UV
// rasteriser: scenes as assimp could hand them back, with any vertices
// (NaN, infinities, huge and degenerate coordinates), zero-area and sliver
// triangles, faces that point past the vertices, missing normals or
// tangents, node transforms of any value. Assimp's own parsers are assimp's
// to fuzz; this is everything the bake does with what they return. On every
// input:
//   - the reader returns a mesh or throws MeshError, nothing else;
//   - every triangle indexes its vertices;
//   - every sample belongs to no triangle or to one the tile lists;
//   - the surface at an owned sample has its UV inside the tile and a
//     finite frame of unit vectors.
// The sanitizers watch the rest.
#include <assimp/scene.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "mesh.h"
#include "raster.h"

namespace {

using strata::bake::Mesh;

void check(bool holds, const char* what) {
  if (!holds) {
    std::fprintf(stderr, "mesh_fuzz: %s\n", what);
    std::abort();
  }
}

// Reads the input a byte at a time; past its end, zeros.
struct Input {
  const std::uint8_t* data;
  std::size_t size;
  std::size_t at = 0;

  std::uint8_t byte() { return at < size ? data[at++] : 0; }

  // A coordinate: mostly one of the values meshes break on, else any 32
  // bits, else a place in the first tiles.
  float coordinate() {
    static const float kEdges[] = {std::numeric_limits<float>::quiet_NaN(),
                                   std::numeric_limits<float>::infinity(),
                                   -std::numeric_limits<float>::infinity(),
                                   0.0f,
                                   -0.0f,
                                   1.0f,
                                   10.0f,
                                   std::nextafter(10.0f, 11.0f),
                                   1e38f,
                                   -1e38f,
                                   1e-38f,
                                   0.5f,
                                   std::nextafter(0.5f, 1.0f)};
    const std::uint8_t kind = byte();
    if (kind < 64) {
      return kEdges[kind % (sizeof kEdges / sizeof kEdges[0])];
    }
    if (kind < 128) {
      std::uint32_t bits = 0;
      for (int i = 0; i < 4; ++i) {
        bits = bits << 8 | byte();
      }
      float f = 0.0f;
      std::memcpy(&f, &bits, sizeof f);
      return f;
    }
    // 0 to 2.55 in steps that make slivers and shared edges likely.
    return static_cast<float>(byte()) / 100.0f;
  }

  aiVector3D vector() {
    const float x = coordinate();
    const float y = coordinate();
    return {x, y, coordinate()};
  }
};

// A scene of one or two meshes as assimp's post-processing leaves them.
aiScene* scene_of(Input& in) {
  auto* scene = new aiScene();
  const unsigned meshes = 1 + in.byte() % 2;
  scene->mNumMeshes = meshes;
  scene->mMeshes = new aiMesh*[meshes];
  for (unsigned m = 0; m < meshes; ++m) {
    auto* mesh = new aiMesh();
    scene->mMeshes[m] = mesh;
    const std::uint8_t flags = in.byte();
    const unsigned vertices = 1 + in.byte() % 24;
    mesh->mNumVertices = vertices;
    mesh->mVertices = new aiVector3D[vertices];
    if ((flags & 1) == 0) {
      mesh->mNormals = new aiVector3D[vertices];
    }
    if ((flags & 2) == 0) {
      mesh->mTangents = new aiVector3D[vertices];
      mesh->mBitangents = new aiVector3D[vertices];
    }
    if ((flags & 4) == 0) {
      mesh->mTextureCoords[0] = new aiVector3D[vertices];
      mesh->mNumUVComponents[0] = 2;
    }
    for (unsigned v = 0; v < vertices; ++v) {
      mesh->mVertices[v] = in.vector();
      if (mesh->mNormals != nullptr) {
        mesh->mNormals[v] = in.vector();
      }
      if (mesh->mTangents != nullptr) {
        mesh->mTangents[v] = in.vector();
        mesh->mBitangents[v] = in.vector();
      }
      if (mesh->mTextureCoords[0] != nullptr) {
        const float u = in.coordinate();
        mesh->mTextureCoords[0][v] = {u, in.coordinate(), 0.0f};
      }
    }
    const unsigned faces = in.byte() % 32;
    mesh->mNumFaces = faces;
    mesh->mFaces = new aiFace[faces];
    for (unsigned f = 0; f < faces; ++f) {
      // Mostly triangles, some points and lines; an index may point past
      // the vertices.
      const unsigned corners = (flags & 8) != 0 && f % 5 == 0 ? 1 + f % 2 : 3;
      mesh->mFaces[f].mNumIndices = corners;
      mesh->mFaces[f].mIndices = new unsigned[corners];
      for (unsigned k = 0; k < corners; ++k) {
        const std::uint8_t i = in.byte();
        mesh->mFaces[f].mIndices[k] = (flags & 16) != 0 ? i : i % vertices;
      }
    }
  }
  // Most scenes place their meshes through nodes, some with a transform.
  if ((in.byte() & 1) != 0) {
    auto* root = new aiNode();
    scene->mRootNode = root;
    const bool transformed = (in.byte() & 1) != 0;
    if (transformed) {
      root->mTransformation.a1 = in.coordinate();
      root->mTransformation.b2 = in.coordinate();
      root->mTransformation.a4 = in.coordinate();
    }
    root->mNumMeshes = 1 + in.byte() % 3;
    root->mMeshes = new unsigned[root->mNumMeshes];
    for (unsigned i = 0; i < root->mNumMeshes; ++i) {
      root->mMeshes[i] = in.byte() % (meshes + 1);  // one past the last, at times
    }
  }
  return scene;
}

void rasterise(const Mesh& mesh, Input& in) {
  const strata::bake::Grid grid{1 + in.byte() % 40, 1 + in.byte() % 4};
  const strata::bake::UvLayout layout = strata::bake::lay_out(mesh);
  for (const strata::bake::Tile& tile : layout.tiles) {
    const strata::bake::TileRaster raster(mesh, tile, grid);
    strata::bake::Band band;
    for (int b = 0; b < raster.bands(); ++b) {
      raster.rasterise(b, &band);
      const int columns = grid.samples();
      for (std::size_t s = 0; s < band.owner.size(); ++s) {
        const std::int32_t owner = band.owner[s];
        if (owner < 0) {
          continue;
        }
        bool listed = false;
        for (const std::uint32_t t : tile.triangles) {
          listed = listed || t == static_cast<std::uint32_t>(owner);
        }
        check(listed, "a sample belongs to a triangle the tile does not list");
        const int column = static_cast<int>(s % static_cast<std::size_t>(columns));
        const int row = band.first_row * grid.aa + static_cast<int>(s / columns);
        const strata::preview::SurfacePoint p = strata::bake::surface_at_sample(
            mesh, tile, grid, static_cast<std::uint32_t>(owner), column, row);
        check(p.u >= static_cast<float>(tile.u) && p.u <= static_cast<float>(tile.u + 1) &&
                  p.v >= static_cast<float>(tile.v) && p.v <= static_cast<float>(tile.v + 1),
              "a sample's UV lies outside its tile");
        for (const strataMix_vector* axis : {&p.normal, &p.tangent, &p.bitangent}) {
          const float length = std::sqrt(axis->x * axis->x + axis->y * axis->y + axis->z * axis->z);
          check(std::fabs(length - 1.0f) < 1e-3f, "a sample's frame is not of unit vectors");
        }
      }
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input in{data, size};
  aiScene* scene = scene_of(in);
  Mesh mesh;
  bool read = true;
  try {
    mesh = strata::bake::mesh_from_scene(*scene, {}, "fuzz");
  } catch (const strata::bake::MeshError&) {
    read = false;
  }
  delete scene;
  if (!read) {
    return 0;
  }
  for (const auto& t : mesh.triangles) {
    for (const std::uint32_t v : t) {
      check(v < mesh.positions.size() && v < mesh.uvs.size(), "a triangle indexes no vertex");
    }
  }
  rasterise(mesh, in);
  return 0;
}

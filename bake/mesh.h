// The mesh a bake shades: read with assimp (OBJ, FBX, glTF and the other
// formats it reads), triangulated, with its own normals or smooth ones made,
// and tangents from the UVs by assimp's tangent space.
#ifndef STRATAMIX_BAKE_MESH_H
#define STRATAMIX_BAKE_MESH_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "strataMix.h"

struct aiScene;

namespace strata::bake {

// Per vertex: where it lies, its normal, and the tangent and bitangent
// along +u and +v, all in the file's object space (its nodes' transforms
// applied). Triangles index the vertices, in the file's order: the meshes
// as the file's node tree lists them, depth first, and each mesh's faces in
// order.
struct Mesh {
  std::vector<strataMix_vector> positions;
  std::vector<strataMix_vector> normals;
  // Not a number where assimp could not make one (a vertex without a UV
  // area around it); the bake then builds a frame from the normal alone.
  std::vector<strataMix_vector> tangents;
  std::vector<strataMix_vector> bitangents;
  std::vector<std::array<float, 2>> uvs;
  std::vector<std::array<std::uint32_t, 3>> triangles;
};

// What a mesh may hold. A file is refused before it is read when it is
// larger, and a mesh once it is read when it holds more.
struct MeshLimits {
  std::uint64_t file_bytes = std::uint64_t{512} << 20;
  std::size_t triangles = 8'000'000;
  std::size_t vertices = 8'000'000;
};

struct MeshOptions {
  unsigned uv_set = 0;  // the texture coordinates baked over: the first set by default
  MeshLimits limits;
};

// A mesh that cannot be baked; the message names the file and the problem.
struct MeshError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

Mesh read_mesh(const std::string& path, const MeshOptions& options = {});

// The mesh of a scene as assimp hands it back after its post-processing;
// `name` begins each message. What read_mesh does once the file is read,
// and where the fuzz target and the tests hand in scenes of their own.
Mesh mesh_from_scene(const aiScene& scene, const MeshOptions& options, const std::string& name);

}  // namespace strata::bake

#endif  // STRATAMIX_BAKE_MESH_H

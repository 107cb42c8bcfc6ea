#include "mesh.h"

#include <assimp/config.h>
#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include <assimp/Importer.hpp>
#include <cmath>
#include <filesystem>
#include <limits>
#include <system_error>
#include <utility>

namespace strata::bake {
namespace {

// A node tree deeper than this is not a model's.
constexpr std::size_t kMaxNodeDepth = 256;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

[[noreturn]] void fail(const std::string& name, const std::string& problem) {
  throw MeshError(name + ": " + problem);
}

strataMix_vector vector_of(const aiVector3D& v) { return {v.x, v.y, v.z}; }

// One mesh placed by one node: the node's transform and the matrix its
// normals take (the inverse transpose).
struct Placed {
  const aiMesh* mesh;
  aiMatrix4x4 transform;
  aiMatrix3x3 normal_transform;
  bool identity;
};

// The meshes as the node tree lists them, depth first.
std::vector<Placed> placed_meshes(const aiScene& scene, const std::string& name) {
  std::vector<Placed> placed;
  if (scene.mRootNode == nullptr) {
    for (unsigned m = 0; m < scene.mNumMeshes; ++m) {
      placed.push_back({scene.mMeshes[m], aiMatrix4x4(), aiMatrix3x3(), true});
    }
    return placed;
  }
  std::vector<std::pair<const aiNode*, aiMatrix4x4>> stack = {
      {scene.mRootNode, scene.mRootNode->mTransformation}};
  std::vector<std::size_t> depth = {0};
  while (!stack.empty()) {
    const auto [node, transform] = stack.back();
    const std::size_t level = depth.back();
    stack.pop_back();
    depth.pop_back();
    if (level > kMaxNodeDepth) {
      fail(name, "its node tree is deeper than " + std::to_string(kMaxNodeDepth) + " levels");
    }
    const bool identity = transform.IsIdentity();
    aiMatrix3x3 normal_transform(transform);
    normal_transform.Inverse().Transpose();
    for (unsigned i = 0; i < node->mNumMeshes; ++i) {
      if (node->mMeshes[i] >= scene.mNumMeshes) {
        fail(name, "a node refers to mesh " + std::to_string(node->mMeshes[i]) + " of " +
                       std::to_string(scene.mNumMeshes));
      }
      placed.push_back({scene.mMeshes[node->mMeshes[i]], transform, normal_transform, identity});
    }
    // Children pushed last first, so that the first is visited first.
    for (unsigned c = node->mNumChildren; c-- > 0;) {
      if (node->mChildren[c] != nullptr) {
        stack.emplace_back(node->mChildren[c], transform * node->mChildren[c]->mTransformation);
        depth.push_back(level + 1);
      }
    }
  }
  return placed;
}

void add_mesh(const Placed& p, unsigned uv_set, std::size_t number, const std::string& name,
              Mesh* out) {
  const aiMesh& m = *p.mesh;
  const std::string which = "mesh " + std::to_string(number);
  if (m.mVertices == nullptr || m.mNumVertices == 0) {
    return;
  }
  if (uv_set >= AI_MAX_NUMBER_OF_TEXTURECOORDS || m.mTextureCoords[uv_set] == nullptr) {
    const unsigned sets = m.GetNumUVChannels();
    fail(name, which + " has " +
                   (sets == 0 ? std::string("no UVs (texture coordinates) to bake over")
                              : "UV sets 0 to " + std::to_string(sets - 1) + ", and no set " +
                                    std::to_string(uv_set)));
  }
  if (m.mNormals == nullptr) {
    fail(name, which + " has no normals, and none could be made");
  }
  const auto first = static_cast<std::uint32_t>(out->positions.size());
  for (unsigned v = 0; v < m.mNumVertices; ++v) {
    aiVector3D position = m.mVertices[v];
    aiVector3D normal = m.mNormals[v];
    aiVector3D tangent(kNaN, kNaN, kNaN);
    aiVector3D bitangent(kNaN, kNaN, kNaN);
    if (m.mTangents != nullptr && m.mBitangents != nullptr) {
      tangent = m.mTangents[v];
      bitangent = m.mBitangents[v];
    }
    if (!p.identity) {
      position = p.transform * position;
      normal = p.normal_transform * normal;
      const aiMatrix3x3 linear(p.transform);
      tangent = linear * tangent;
      bitangent = linear * bitangent;
    }
    out->positions.push_back(vector_of(position));
    out->normals.push_back(vector_of(normal));
    out->tangents.push_back(vector_of(tangent));
    out->bitangents.push_back(vector_of(bitangent));
    const aiVector3D& uv = m.mTextureCoords[uv_set][v];
    out->uvs.push_back({uv.x, uv.y});
  }
  for (unsigned f = 0; f < m.mNumFaces; ++f) {
    const aiFace& face = m.mFaces[f];
    // Points and lines are no surface; triangulation has split the rest.
    if (face.mNumIndices != 3 || face.mIndices == nullptr) {
      continue;
    }
    std::array<std::uint32_t, 3> triangle{};
    for (unsigned k = 0; k < 3; ++k) {
      if (face.mIndices[k] >= m.mNumVertices) {
        fail(name, which + ": face " + std::to_string(f) + " refers to vertex " +
                       std::to_string(face.mIndices[k]) + " of " + std::to_string(m.mNumVertices));
      }
      triangle[k] = first + face.mIndices[k];
    }
    out->triangles.push_back(triangle);
  }
}

}  // namespace

Mesh mesh_from_scene(const aiScene& scene, const MeshOptions& options, const std::string& name) {
  if ((scene.mFlags & AI_SCENE_FLAGS_INCOMPLETE) != 0) {
    fail(name, "assimp read it only in part");
  }
  const std::vector<Placed> placed = placed_meshes(scene, name);
  // The bounds are checked on the counts before anything is copied.
  std::size_t vertices = 0;
  std::size_t faces = 0;
  for (const Placed& p : placed) {
    if (p.mesh == nullptr) {
      fail(name, "a mesh of its scene is missing");
    }
    vertices += p.mesh->mNumVertices;
    faces += p.mesh->mNumFaces;
  }
  if (vertices > options.limits.vertices) {
    fail(name, std::to_string(vertices) + " vertices, over the bound of " +
                   std::to_string(options.limits.vertices));
  }
  if (faces > options.limits.triangles) {
    fail(name, std::to_string(faces) + " triangles, over the bound of " +
                   std::to_string(options.limits.triangles));
  }
  Mesh mesh;
  mesh.positions.reserve(vertices);
  mesh.triangles.reserve(faces);
  for (std::size_t i = 0; i < placed.size(); ++i) {
    add_mesh(placed[i], options.uv_set, i, name, &mesh);
  }
  if (mesh.triangles.empty()) {
    fail(name, "holds no triangles");
  }
  return mesh;
}

Mesh read_mesh(const std::string& path, const MeshOptions& options) {
  std::error_code ec;
  const std::filesystem::file_status status = std::filesystem::status(path, ec);
  if (!std::filesystem::exists(status)) {
    fail(path, "no such file");
  }
  // A folder is no mesh, and a FIFO or a device would be read for ever.
  if (!std::filesystem::is_regular_file(status)) {
    fail(path, "not a regular file");
  }
  const std::uintmax_t bytes = std::filesystem::file_size(path, ec);
  if (ec || bytes > options.limits.file_bytes) {
    fail(path, std::to_string(bytes) + " bytes, over the bound of " +
                   std::to_string(options.limits.file_bytes));
  }
  Assimp::Importer importer;
  // Points and lines are dropped; only surfaces are baked.
  importer.SetPropertyInteger(AI_CONFIG_PP_SBP_REMOVE,
                              aiPrimitiveType_POINT | aiPrimitiveType_LINE);
  // Triangulated; normals made smooth where the file has none; tangents and
  // bitangents along +u and +v from the UVs; vertices shared where they are
  // identical. None of these steps reorders the faces.
  const unsigned steps = aiProcess_Triangulate | aiProcess_GenSmoothNormals |
                         aiProcess_CalcTangentSpace | aiProcess_JoinIdenticalVertices |
                         aiProcess_SortByPType | aiProcess_ValidateDataStructure;
  const aiScene* scene = importer.ReadFile(path, steps);
  if (scene == nullptr) {
    fail(path, std::string("not a mesh assimp can read (") + importer.GetErrorString() + ")");
  }
  return mesh_from_scene(*scene, options, path);
}

}  // namespace strata::bake

// The mesh reader: what it makes of a plane, and the message each mesh it
// cannot bake gets.
#include "mesh.h"

#include <gtest/gtest.h>

#include "support.h"

namespace strata::bake {
namespace {

TEST(Mesh, APlaneIsTwoTrianglesWithItsFrame) {
  const std::filesystem::path dir = test::scratch();
  const Mesh m = read_mesh(test::write_file(dir / "plane.obj", test::kPlane));
  ASSERT_EQ(m.triangles.size(), 2u) << "the quad, triangulated";
  ASSERT_EQ(m.uvs.size(), m.positions.size());
  for (std::size_t v = 0; v < m.positions.size(); ++v) {
    SCOPED_TRACE("vertex " + std::to_string(v));
    // The UV of each corner is its x and y, as the file pairs them.
    EXPECT_EQ(m.uvs[v][0], m.positions[v].x);
    EXPECT_EQ(m.uvs[v][1], m.positions[v].y);
    EXPECT_EQ(m.normals[v].z, 1.0f);
    EXPECT_EQ(m.tangents[v].x, 1.0f) << "the tangent runs along +u";
    EXPECT_EQ(m.bitangents[v].y, 1.0f) << "the bitangent along +v";
  }
}

TEST(Mesh, NormalsAreMadeWhereTheFileHasNone) {
  const std::filesystem::path dir = test::scratch();
  const Mesh m = read_mesh(test::write_file(dir / "bare.obj",
                                            "v 0 0 0\nv 1 0 0\nv 0 1 0\nvt 0 0\nvt 1 0\nvt 0 1\n"
                                            "f 1/1 2/2 3/3\n"));
  ASSERT_EQ(m.triangles.size(), 1u);
  EXPECT_EQ(m.normals[0].z, 1.0f) << "the triangle's own facing";
}

TEST(Mesh, MeshesThatCannotBeBakedAreNamedWithTheirProblem) {
  const std::filesystem::path dir = test::scratch();
  const std::string plane = test::write_file(dir / "plane.obj", test::kPlane);
  const std::string text = test::write_file(dir / "notes.obj", "these are not\nvertices at all\n");
  const std::string png = test::write_file(dir / "picture.xyz", "\x89PNG\r\n\x1a\n");
  const std::string no_uv =
      test::write_file(dir / "no-uv.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
  const std::string empty = test::write_file(dir / "points.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\n");
  const std::string lines = test::write_file(dir / "lines.obj", "v 0 0 0\nv 1 0 0\nl 1 2\n");
  std::filesystem::create_directory(dir / "folder.obj");
  struct Row {
    std::string path;
    MeshOptions options;
    std::string message;
  };
  MeshOptions small_file;
  small_file.limits.file_bytes = 64;
  MeshOptions one_triangle;
  one_triangle.limits.triangles = 1;
  MeshOptions three_vertices;
  three_vertices.limits.vertices = 3;
  MeshOptions second_set;
  second_set.uv_set = 1;
  const std::string bytes = std::to_string(std::filesystem::file_size(plane));
  const Row rows[] = {
      {(dir / "missing.obj").string(), {}, "missing.obj: no such file"},
      {(dir / "folder.obj").string(), {}, "folder.obj: not a regular file"},
      {text, {}, "notes.obj: "},  // assimp's own words follow
      {png, {}, "picture.xyz: not a mesh assimp can read (No suitable reader found"},
      {no_uv, {}, "no-uv.obj: mesh 0 has no UVs (texture coordinates) to bake over"},
      {empty, {}, "points.obj: "},
      {lines, {}, "lines.obj: "},
      {plane, second_set, "plane.obj: mesh 0 has UV sets 0 to 0, and no set 1"},
      {plane, small_file, "plane.obj: " + bytes + " bytes, over the bound of 64"},
      {plane, one_triangle, "plane.obj: 2 triangles, over the bound of 1"},
      {plane, three_vertices, "plane.obj: 4 vertices, over the bound of 3"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.path);
    try {
      read_mesh(r.path, r.options);
      ADD_FAILURE() << "read";
    } catch (const MeshError& e) {
      const std::string message = e.what();
      const std::string expected = (dir / "").string() + r.message;
      EXPECT_EQ(message.substr(0, expected.size()), expected) << message;
    }
  }
}

}  // namespace
}  // namespace strata::bake

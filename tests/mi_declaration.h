// Reads a shader declaration in the renderer's scene language and lays its
// records out by the renderer's packing rules, so that tests can hold the
// declaration against the records the shader was compiled with.
#ifndef STRATAMIX_TESTS_MI_DECLARATION_H
#define STRATAMIX_TESTS_MI_DECLARATION_H

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace strata::test {

struct DeclaredField {
  std::string type;  // "color", "vector", "scalar", "integer" or "boolean"
  std::string name;
};

struct ShaderDeclaration {
  std::string name;
  std::vector<DeclaredField> result;  // the struct's fields, in order
  std::vector<DeclaredField> params;  // the parameters, in order
  int version = 0;                    // 0 when the declaration names none
};

// A declaration that cannot be read; the message names the line.
struct DeclarationError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Reads the one `declare shader ... end declare` block of `text`.
ShaderDeclaration parse_shader_declaration(std::string_view text);

// Bytes the renderer gives a parameter of this type: 4 for integer, boolean
// and scalar, 12 for vector, 16 for color.
std::uint32_t declared_size(std::string_view type);

struct PlacedField {
  std::string name;
  std::string type;
  std::uint32_t offset;
};

// The renderer's packing: in order, each field right after the previous one.
std::vector<PlacedField> pack_fields(const std::vector<DeclaredField>& fields);

// Bytes the packed record occupies.
std::uint32_t packed_size(const std::vector<DeclaredField>& fields);

}  // namespace strata::test

#endif  // STRATAMIX_TESTS_MI_DECLARATION_H

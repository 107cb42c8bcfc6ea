// The renderer lays the parameter and result records out from the shader's
// declaration file; these tests lay the declaration out by the renderer's
// packing rules and hold every field against the records the shader and the
// host were compiled with.
#include <gtest/gtest.h>

#include <cstddef>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "fields.h"
#include "mi_declaration.h"
#include "strataMix.h"

namespace strata::test {
namespace {

// Every way in which the declared parameters, packed by the renderer, differ
// from strataMix_params and from the host's field table; one message each,
// naming the parameter.
std::vector<std::string> param_mismatches(const std::vector<DeclaredField>& declared) {
  std::vector<std::string> problems;
  const std::vector<PlacedField> placed = pack_fields(declared);
  std::size_t i = 0;
  for (const Field& f : kRecordFields) {
    const std::uint32_t size = slot_size(field_type(f));
    for (std::uint32_t slot = 0; slot < f.slots; ++slot, ++i) {
      // Each slot of an array is declared as a parameter of its own.
      const std::string want = declared_name({&f, slot});
      if (i >= placed.size()) {
        problems.push_back(want + ": not declared");
        continue;
      }
      const PlacedField& p = placed[i];
      const std::uint32_t record_offset = ParameterRef{&f, slot}.offset();
      if (p.name != want) {
        problems.push_back(want + ": declared as \"" + p.name + "\" in its place");
      }
      if (p.offset != record_offset) {
        problems.push_back(want + ": declared at " + std::to_string(p.offset) +
                           ", strataMix_params has it at " + std::to_string(record_offset));
      }
      if (declared_size(p.type) != size) {
        problems.push_back(want + ": declared " + p.type + " (" +
                           std::to_string(declared_size(p.type)) + " bytes), the record holds " +
                           std::to_string(size));
      }
      if (p.type != kind_entry(f.kind).declared) {
        problems.push_back(want + ": declared " + p.type + ", should be " +
                           std::string(kind_entry(f.kind).declared));
      }
    }
  }
  for (; i < placed.size(); ++i) {
    problems.push_back(placed[i].name + ": declared, but not in strataMix_params");
  }
  if (packed_size(declared) != sizeof(strataMix_params)) {
    problems.push_back("the declared record takes " + std::to_string(packed_size(declared)) +
                       " bytes, strataMix_params " + std::to_string(sizeof(strataMix_params)));
  }
  return problems;
}

std::string read_file(const char* path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

const ShaderDeclaration& shipped() {
  static const ShaderDeclaration d = parse_shader_declaration(read_file(STRATAMIX_DECLARATION));
  return d;
}

TEST(Declaration, NamesTheShaderAndItsInterfaceVersion) {
  EXPECT_EQ(shipped().name, "strataMix");
  EXPECT_EQ(shipped().version, 1);
}

TEST(Declaration, ParametersLayOutAsStrataMixParams) {
  for (const std::string& problem : param_mismatches(shipped().params)) {
    ADD_FAILURE() << problem;
  }
  EXPECT_EQ(packed_size(shipped().params), 304u);
  // 22 single fields and 4 arrays of 8 slots.
  EXPECT_EQ(shipped().params.size(), 54u);
}

TEST(Declaration, ResultLaysOutAsStrataMixResult) {
  const std::vector<PlacedField> placed = pack_fields(shipped().result);
  ASSERT_EQ(placed.size(), 2u);
  EXPECT_EQ(placed[0].name, "outColor");
  EXPECT_EQ(placed[0].type, "color");
  EXPECT_EQ(placed[0].offset, offsetof(strataMix_result, outColor));
  EXPECT_EQ(placed[0].offset, 0u);
  EXPECT_EQ(placed[1].name, "outNormal");
  EXPECT_EQ(placed[1].type, "vector");
  EXPECT_EQ(placed[1].offset, offsetof(strataMix_result, outNormal));
  EXPECT_EQ(placed[1].offset, 16u);
  EXPECT_EQ(packed_size(shipped().result), sizeof(strataMix_result));
}

// The check above must catch a declaration that the renderer would lay out
// differently; each row breaks the shipped declaration in one way.
struct Breakage {
  const char* what;
  std::vector<DeclaredField> (*apply)(std::vector<DeclaredField>);
  const char* expected_problem;  // a message that must be among the problems
};

std::vector<DeclaredField> swap_weight_and_balance_slot0(std::vector<DeclaredField> p) {
  std::swap(p[20], p[28]);  // layerWeight0, layerBalance0
  return p;
}
std::vector<DeclaredField> layer_color_as_vector(std::vector<DeclaredField> p) {
  p[42].type = "vector";  // layerColor
  return p;
}
std::vector<DeclaredField> blend_mode_as_boolean(std::vector<DeclaredField> p) {
  p[44].type = "boolean";  // blendMode
  return p;
}
std::vector<DeclaredField> last_slot_missing(std::vector<DeclaredField> p) {
  p.erase(p.begin() + 10);  // layerEnable7
  return p;
}
std::vector<DeclaredField> extra_parameter(std::vector<DeclaredField> p) {
  p.push_back({"scalar", "extra"});
  return p;
}

TEST(Declaration, CheckCatchesEachKindOfMismatch) {
  const Breakage rows[] = {
      {"two slots swapped", swap_weight_and_balance_slot0,
       "layerWeight0: declared as \"layerBalance0\" in its place"},
      {"a colour declared as a vector", layer_color_as_vector,
       "blendAmount: declared at 256, strataMix_params has it at 260"},
      {"a mode declared as a switch", blend_mode_as_boolean,
       "blendMode: declared boolean, should be integer"},
      {"a slot left out", last_slot_missing,
       "layerEnable7: declared as \"layerNormal0\" in its place"},
      {"a parameter too many", extra_parameter, "extra: declared, but not in strataMix_params"},
  };
  for (const Breakage& row : rows) {
    SCOPED_TRACE(row.what);
    const std::vector<std::string> problems = param_mismatches(row.apply(shipped().params));
    bool found = false;
    for (const std::string& p : problems) {
      found = found || p == row.expected_problem;
    }
    EXPECT_TRUE(found) << "expected \"" << row.expected_problem << "\" among " << problems.size()
                       << " problems";
  }
}

TEST(Declaration, ReaderRejectsWhatTheRendererWouldNotLayOutInPlace) {
  struct Row {
    const char* what;
    const char* text;
    const char* message;
  };
  const Row rows[] = {
      {"an array parameter",
       "declare shader struct { color \"outColor\" } \"s\" (\n array integer \"layerEnable\" )\n"
       "end declare",
       "line 2: array parameters are of variable length; declare each slot"},
      {"an unknown type", "declare shader struct { color \"c\" } \"s\" ( float \"x\" ) end declare",
       "line 1: unknown type 'float'"},
      {"a missing comma",
       "declare shader struct { color \"c\" } \"s\" (\n scalar \"x\"\n scalar \"y\" ) end declare",
       "line 3: expected ',', found 'scalar'"},
      {"no end", "declare shader struct { color \"c\" } \"s\" ( scalar \"x\" )",
       "line 1: expected 'end', found 'end of file'"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    try {
      parse_shader_declaration(row.text);
      ADD_FAILURE() << "accepted";
    } catch (const DeclarationError& e) {
      EXPECT_EQ(std::string(e.what()), row.message);
    }
  }
}

TEST(Declaration, PackingRulesSizeEachType) {
  const std::vector<DeclaredField> fields = {{"integer", "i"}, {"boolean", "b"}, {"scalar", "s"},
                                             {"vector", "v"},  {"color", "c"},   {"scalar", "t"}};
  const std::vector<PlacedField> placed = pack_fields(fields);
  const std::uint32_t offsets[] = {0, 4, 8, 12, 24, 40};
  for (std::size_t i = 0; i < placed.size(); ++i) {
    SCOPED_TRACE(placed[i].type);
    EXPECT_EQ(placed[i].offset, offsets[i]);
  }
  EXPECT_EQ(packed_size(fields), 44u);
}

}  // namespace
}  // namespace strata::test

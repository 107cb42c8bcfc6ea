// The description of the contract against the tables it is made from: every
// field, mode and kind of ray appears once, with the tables' values; a few
// rows are worked by hand from the record's layout and the mode table, so
// that a table and its description cannot drift together unseen.
#include "description.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "blend_modes.h"
#include "fields.h"
#include "renderer.h"

namespace strata::test {
namespace {

using nlohmann::json;

const json& description() {
  static const json doc = json::parse(describe::description_json({}));
  return doc;
}

// The one entry of a list whose `key` is `value`; fails the test when there
// is none or more than one.
const json& only(const json& list, const std::string& key, const json& value) {
  static const json none;
  const json* found = &none;
  int count = 0;
  for (const json& entry : list) {
    if (entry.at(key) == value) {
      found = &entry;
      ++count;
    }
  }
  EXPECT_EQ(count, 1) << key << " " << value.dump();
  return *found;
}

TEST(Description, EveryFieldOnceWithItsTableValues) {
  const json& fields = description().at("fields");
  ASSERT_EQ(fields.size(), kRecordFields.size());
  for (const Field& f : kRecordFields) {
    SCOPED_TRACE(std::string(f.name));
    const json& d = only(fields, "name", std::string(f.name));
    EXPECT_EQ(d.at("offset"), f.offset);
    EXPECT_EQ(d.at("type"), std::string(type_entry(field_type(f)).name));
    EXPECT_EQ(d.at("kind"), std::string(kind_entry(f.kind).name));
    EXPECT_EQ(d.at("stage"), std::string(stage_entry(f.stage).name));
    EXPECT_EQ(d.at("slots"), f.slots);
    EXPECT_EQ(d.at("neutral").size(), slot_words(field_type(f)));
    for (std::size_t i = 0; i < d.at("neutral").size(); ++i) {
      EXPECT_EQ(d.at("neutral")[i].get<float>(), f.neutral[i]) << "neutral[" << i << "]";
    }
    EXPECT_EQ(d.at("powUnless").is_null(), !f.pow_unless.has_value());
  }
  struct Row {
    const char* name;
    std::uint32_t offset;
    const char* type;
    const char* kind;
    std::uint32_t slots;
    const char* stage;
    json neutral;
  };
  const Row rows[] = {
      {"baseColor", 0, "color", "color", 1, "layer", {0.5, 0.5, 0.5, 1.0}},
      {"layerNormal", 56, "vector", "vector", 8, "normal", {0.0, 0.0, 1.0}},
      {"layerBalance", 188, "scalar", "scalar", 8, "normal", {0.5}},
      {"skipPhotons", 224, "integer", "gate", 1, "flow", {0}},
      {"blendMode", 264, "integer", "mode", 1, "layer", {0}},
      {"gamma", 284, "scalar", "scalar", 1, "correction", {1.0}},
      {"outputNormal", 300, "integer", "toggle", 1, "flow", {0}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    const json& d = only(fields, "name", r.name);
    EXPECT_EQ(d.at("offset"), r.offset);
    EXPECT_EQ(d.at("type"), r.type);
    EXPECT_EQ(d.at("kind"), r.kind);
    EXPECT_EQ(d.at("slots"), r.slots);
    EXPECT_EQ(d.at("stage"), r.stage);
    EXPECT_EQ(d.at("neutral"), r.neutral);
  }
  EXPECT_EQ(only(fields, "name", "gamma").at("powUnless"), 1.0);
  const json& record = description().at("record");
  EXPECT_EQ(record.at("size"), 304);
  EXPECT_EQ(record.at("slots"), 8);
  // The slot naming rules, by hand, and as the tools and the declaration use them.
  const Field& weight = *find_field("layerWeight");
  EXPECT_EQ(record.at("slotNames").at("tools"), "{name}[{slot}]");
  EXPECT_EQ(record.at("slotNames").at("declaration"), "{name}{slot}");
  EXPECT_EQ(parameter_name({&weight, 2}), "layerWeight[2]");
  EXPECT_EQ(declared_name({&weight, 2}), "layerWeight2");
  EXPECT_EQ(declared_name({find_field("gamma"), 0}), "gamma");
}

TEST(Description, EveryModeOnceWithItsTableValues) {
  const json& modes = description().at("modes");
  ASSERT_EQ(modes.size(), 23u);
  for (const BlendModeEntry& m : kBlendModes) {
    const json& d = only(modes, "number", static_cast<std::uint32_t>(m.mode));
    EXPECT_EQ(d.at("identifier"), std::string(m.identifier));
    EXPECT_EQ(d.at("name"), std::string(m.name));
    EXPECT_EQ(d.at("formula"), std::string(m.formula));
    EXPECT_EQ(d.at("callsPow"), m.calls_pow);
    // By hand from the formulas: linear burn, screen, difference, average,
    // negation and exclusion take the amount inside.
    const bool amount_inside = m.mode == BlendMode::linear_burn || m.mode == BlendMode::screen ||
                               m.mode == BlendMode::difference || m.mode == BlendMode::average ||
                               m.mode == BlendMode::negation || m.mode == BlendMode::exclusion;
    EXPECT_EQ(d.at("amountInFormula"), amount_inside) << m.name;
  }
  EXPECT_EQ(only(modes, "number", 17).at("identifier"), "soft_light");
  EXPECT_EQ(only(modes, "number", 4).at("name"), "add normalised");
  EXPECT_EQ(only(modes, "number", 22).at("name"), "linear light");
}

// Which codes each kind holds, by hand from the renderer's ray types, and
// that the description's gates are the ones the shader's own tests make.
TEST(Description, EveryRayKindOnceWithItsCodesAndGate) {
  const json& rays = description().at("rays");
  ASSERT_EQ(rays.size(), kRayKinds.size());
  const struct {
    const char* name;
    std::vector<int> codes;
    json stopped_by;
  } rows[] = {
      {"eye", {0}, nullptr},
      {"reflection", {2}, "skipReflections"},
      {"refraction", {3}, "skipReflections"},
      {"photon", {8, 9, 10, 11, 12, 13, 14, 15, 18, 19, 23, 24}, "skipPhotons"},
      {"final-gather", {20}, "skipPhotons"},
  };
  for (const auto& r : rows) {
    const json& d = only(rays, "name", r.name);
    EXPECT_EQ(d.at("codes"), json(r.codes)) << r.name;
    EXPECT_EQ(d.at("stoppedBy"), r.stopped_by) << r.name;
  }
  for (std::int32_t code = -1; code < 40; ++code) {
    bool photon = false;
    bool reflection = false;
    for (const json& d : rays) {
      for (const json& c : d.at("codes")) {
        photon = photon || (c == code && d.at("stoppedBy") == "skipPhotons");
        reflection = reflection || (c == code && d.at("stoppedBy") == "skipReflections");
      }
    }
    EXPECT_EQ(photon, is_photon_or_final_gather_ray(code)) << "code " << code;
    EXPECT_EQ(reflection, is_reflection_or_refraction_ray(code)) << "code " << code;
  }
}

TEST(Description, RoutesNameTheirSwitches) {
  const json& routes = description().at("routes");
  const struct {
    const char* route;
    const char* field;
  } rows[] = {
      {"normalStage", "normalEnable"},       {"photonGate", "skipPhotons"},
      {"reflectionGate", "skipReflections"}, {"outputNormal", "outputNormal"},
      {"normalAsColor", "normalAsColor"},    {"blend", "blendEnable"},
      {"correction", "correctEnable"},
  };
  ASSERT_EQ(routes.size(), std::size(rows));
  for (const auto& r : rows) {
    EXPECT_EQ(only(routes, "name", r.route).at("field"), r.field) << r.route;
  }
}

// The flow's exits in the order it takes them; a stage with a route runs
// only when that switch is on.
TEST(Description, ExitsNameWhatTheyWriteAndTheStagesOnTheirWay) {
  const json& exits = description().at("exits");
  const json always;
  const struct {
    int number;
    const char* name;
    const char* writes;
    json stages;
  } rows[] = {
      {1, "photon-normal", "outNormal", json::array()},
      {2, "photon-color", "outColor", json::array()},
      {3, "reflect-normal", "outNormal", json::array()},
      {4, "reflect-color", "outColor", json::array()},
      {5, "normal-out", "outNormal", {{{"stage", "normal"}, {"when", always}}}},
      {6, "normal-as-color", "outColor", {{{"stage", "normal"}, {"when", always}}}},
      {7,
       "mode-out-of-range",
       "outColor",
       {{{"stage", "normal"}, {"when", "normalStage"}}, {{"stage", "layer"}, {"when", always}}}},
      {8,
       "color",
       "outColor",
       {{{"stage", "normal"}, {"when", "normalStage"}},
        {{"stage", "layer"}, {"when", always}},
        {{"stage", "correction"}, {"when", "correction"}}}},
  };
  ASSERT_EQ(exits.size(), std::size(rows));
  for (std::size_t i = 0; i < std::size(rows); ++i) {
    const auto& r = rows[i];
    const json& e = exits[i];
    EXPECT_EQ(e.at("number"), r.number) << r.name;
    EXPECT_EQ(e.at("name"), r.name) << r.number;
    EXPECT_EQ(e.at("writes"), r.writes) << r.name;
    EXPECT_EQ(e.at("stages"), r.stages) << r.name;
  }
}

// Without the preview's lists, the description says so, and has none.
TEST(Description, SaysWhichPartsItLacks) {
  const json& d = description();
  EXPECT_EQ(d.at("parts"), json({{"preview", false}, {"serve", false}}));
  for (const char* list : {"patterns", "shapes", "sheets", "limits"}) {
    EXPECT_FALSE(d.contains(list)) << list;
  }
  EXPECT_EQ(d.at("interface"), 1);
}

}  // namespace
}  // namespace strata::test

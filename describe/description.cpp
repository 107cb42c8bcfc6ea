#include "description.h"

#include <cstdlib>

#include "blend_modes.h"
#include "fields.h"
#include "renderer.h"
#include "strataMix.h"

namespace strata::describe {
namespace {

// A JSON number that prints as the float's shortest text: the double nearest
// that text, not the float widened (0.2, not 0.20000000298023224).
double json_number(float f) { return std::strtod(float_text(f).c_str(), nullptr); }

Document types() {
  Document list = Document::array();
  for (const FieldTypeEntry& t : kFieldTypes) {
    list.push_back({{"name", t.name}, {"words", t.words}});
  }
  return list;
}

Document kinds() {
  Document list = Document::array();
  for (const FieldKindEntry& k : kFieldKinds) {
    list.push_back(
        {{"name", k.name}, {"type", type_entry(k.type).name}, {"declaredAs", k.declared}});
  }
  return list;
}

Document stages() {
  Document list = Document::array();
  for (const FieldStageEntry& s : kFieldStages) {
    list.push_back({{"name", s.name}, {"title", s.title}});
  }
  return list;
}

// The neutral value: integers as integers, floats by their shortest text.
Document neutral(const Field& f) {
  const FieldType type = field_type(f);
  Document values = Document::array();
  for (std::uint32_t i = 0; i < slot_words(type); ++i) {
    if (type == FieldType::integer) {
      values.push_back(static_cast<std::int32_t>(f.neutral[i]));
    } else {
      values.push_back(json_number(f.neutral[i]));
    }
  }
  return values;
}

Document fields() {
  Document list = Document::array();
  for (const Field& f : kRecordFields) {
    list.push_back(
        {{"name", f.name},
         {"offset", f.offset},
         {"type", type_entry(field_type(f)).name},
         {"kind", kind_entry(f.kind).name},
         {"slots", f.slots},
         {"stage", stage_entry(f.stage).name},
         {"description", f.description},
         {"min", json_number(f.useful_min)},
         {"max", json_number(f.useful_max)},
         {"zeroMeans", f.zero_means},
         {"zeroIsNeutral", f.zero_is_neutral},
         {"neutral", neutral(f)},
         {"powUnless", f.pow_unless ? Document(json_number(*f.pow_unless)) : Document()}});
  }
  return list;
}

Document result() {
  Document list = Document::array();
  for (const ResultField& f : kResultFields) {
    list.push_back({{"name", f.name},
                    {"offset", f.offset},
                    {"type", type_entry(f.type).name},
                    {"description", f.description}});
  }
  return {{"name", "strataMix_result"}, {"size", sizeof(strataMix_result)}, {"fields", list}};
}

Document routes() {
  Document list = Document::array();
  for (const RouteEntry& r : kRoutes) {
    list.push_back({{"name", r.name}, {"field", route_field(r.route).name}});
  }
  return list;
}

Document exits() {
  Document list = Document::array();
  for (const ExitEntry& e : kExits) {
    Document stages = Document::array();
    for (std::size_t i = 0; i < e.stage_count; ++i) {
      const ExitStage& s = e.stages[i];
      stages.push_back({{"stage", stage_entry(s.stage).name},
                        {"when", s.when ? Document(kRoutes[static_cast<std::size_t>(*s.when)].name)
                                        : Document()}});
    }
    list.push_back({{"number", e.number},
                    {"name", e.name},
                    {"takenWhen", e.taken_when},
                    {"writes", e.writes},
                    {"stages", stages}});
  }
  return list;
}

Document modes() {
  Document list = Document::array();
  for (const BlendModeEntry& m : kBlendModes) {
    list.push_back({{"number", static_cast<std::uint32_t>(m.mode)},
                    {"identifier", m.identifier},
                    {"name", m.name},
                    {"formula", m.formula},
                    {"callsPow", m.calls_pow},
                    {"amountInFormula", m.amount_in_formula}});
  }
  return list;
}

Document rays() {
  Document list = Document::array();
  for (const RayKind& k : kRayKinds) {
    Document codes = Document::array();
    for (std::int32_t c = 0; c < 32; ++c) {
      if (code_in(k.codes, c)) {
        codes.push_back(c);
      }
    }
    list.push_back(
        {{"name", k.name},
         {"description", k.description},
         {"codes", codes},
         {"code", k.code},
         {"stoppedBy",
          k.gate == RayGate::none ? Document() : Document(route_field(gate_route(k.gate)).name)}});
  }
  return list;
}

}  // namespace

Document contract() {
  return {{"contract", "strataMix"},
          {"interface", STRATAMIX_INTERFACE_VERSION},
          {"record",
           {{"name", "strataMix_params"},
            {"size", sizeof(strataMix_params)},
            {"slots", STRATAMIX_LAYER_SLOTS},
            {"slotNames", {{"tools", kToolSlotName}, {"declaration", kDeclaredSlotName}}}}},
          {"types", types()},
          {"kinds", kinds()},
          {"stages", stages()},
          {"fields", fields()},
          {"result", result()},
          {"routes", routes()},
          {"exits", exits()},
          {"modes", modes()},
          {"rays", rays()}};
}

std::string description_json(const Lists& lists) {
  Document doc = contract();
  doc["parts"] = {{"preview", lists.preview.has_value()}, {"serve", lists.serve.has_value()}};
  for (const std::optional<Document>* part : {&lists.preview, &lists.serve}) {
    if (*part) {
      doc.update(**part);
    }
  }
  return doc.dump(1) + "\n";
}

}  // namespace strata::describe

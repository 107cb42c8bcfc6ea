"""The description of the shader's contract (`stratamix describe`, the build
tree's description.json), as the Python generators and comparers read it:
the record's layout, the switches the flow routes by, the modes and the
ray-type codes, so that none of them restates what the C++ tables say."""

import json
import struct

# How one slot of each type is packed, in the record's own byte order.
SLOT_FORMATS = {"integer": "i", "scalar": "f", "color": "4f", "vector": "3f"}


class Contract:
    def __init__(self, document):
        self.document = document
        self.fields = document["fields"]
        self.by_name = {f["name"]: f for f in self.fields}
        self.record_size = document["record"]["size"]
        self.slots = document["record"]["slots"]
        self.slot_rule = document["record"]["slotNames"]["tools"]
        self.routes = {r["name"]: r["field"] for r in document["routes"]}
        self.modes = document["modes"]
        self.rays = document["rays"]
        self.exits = document["exits"]

    def route(self, name):
        """The switch of a route: "blend" -> "blendEnable"."""
        return self.routes[name]

    def exit_named(self, name):
        """An exit of the call by its name ("photon-normal")."""
        return next(e for e in self.exits if e["name"] == name)

    def of_kind(self, kind, stage=None):
        """The fields of a kind, in record order, of one stage if given."""
        return [f for f in self.fields
                if f["kind"] == kind and (stage is None or f["stage"] == stage)]

    def the_field(self, kind):
        """The one field of a kind that has one ("mode", "count")."""
        (field,) = self.of_kind(kind)
        return field

    def arrays(self):
        return [f for f in self.fields if f["slots"] > 1]

    def slot_name(self, field, slot):
        """A slot by the tools' rule ("layerWeight[2]"); a single field by its
        name."""
        if field["slots"] == 1:
            return field["name"]
        return self.slot_rule.replace("{name}", field["name"]).replace("{slot}", str(slot))

    def pow_modes(self):
        return {m["number"] for m in self.modes if m["callsPow"]}

    def pow_fields(self):
        """Fields that take a channel through pow unless they hold a value:
        name -> that value."""
        return {f["name"]: f["powUnless"] for f in self.fields if f["powUnless"] is not None}

    def gate_codes(self, route):
        """The ray-type codes the gate of a route stops."""
        field = self.route(route)
        return sorted(c for r in self.rays if r["stoppedBy"] == field for c in r["codes"])

    def ray_code(self, name):
        """The code a stand-in renderer gives a kind of ray ("photon")."""
        return next(r["code"] for r in self.rays if r["name"] == name)

    def slot_format(self, field):
        return SLOT_FORMATS[field["type"]]

    def slot_size(self, field):
        return struct.calcsize("<" + self.slot_format(field))


def load(path):
    with open(path, encoding="utf-8") as f:
        return Contract(json.load(f))

#!/usr/bin/env python3
"""An independent model of the colour layer and colour correction arithmetic.

The expected bit patterns in tests/color_layer_test.cpp, tests/color_correct_test.cpp
and tests/eval/colour_expected_*.jsonl were worked out with this model (and by hand
where the values are dyadic); it shares no code with the plug-in.

Two float models:
  wide:   each formula in double precision from float inputs, rounded to float once
          where it is assigned (Python floats are IEEE doubles, evaluated as written);
  single: every operation rounded to float; the named multiply-adds are fused, which
          this model computes exactly with fractions and rounds once.

Rounding a double result of +, -, *, / or sqrt of two floats to float gives the
correctly rounded float result (53 >= 2 * 24 + 2), so `f32(a op b)` is the single
model's operation. Squares are computed as products: the tests only square values
whose square is a float, where pow and powf are exact.

Usage: colour_model.py search-contrast   (prints a contrast where the models differ)
       colour_model.py eval FILE MODEL   (the answers to a file of colour-path eval cases)
"""

import json
import math
import struct
import sys
from fractions import Fraction

FLT_MAX = struct.unpack("<f", bytes.fromhex("ffff7f7f"))[0]


def bits(x):
    return struct.unpack("<I", struct.pack("<f", x))[0]


def from_bits(u):
    return struct.unpack("<f", struct.pack("<I", u))[0]


def f32(x):
    """Round a double to the nearest float (ties to even); overflow gives infinity."""
    if math.isnan(x) or math.isinf(x):
        return x
    try:
        return struct.unpack("<f", struct.pack("<f", x))[0]
    except OverflowError:
        return math.copysign(math.inf, x)


def round_exact(q):
    """Round an exact rational to the nearest float, ties to even."""
    if q == 0:
        return 0.0
    sign = -1.0 if q < 0 else 1.0
    q = abs(q)
    e = q.numerator.bit_length() - q.denominator.bit_length()
    if Fraction(2) ** e > q:
        e -= 1
    e = max(e, -126)
    scale = Fraction(2) ** (e - 23)
    n = q / scale
    whole = n.numerator // n.denominator
    rest = n - whole
    if rest > Fraction(1, 2) or (rest == Fraction(1, 2) and whole % 2 == 1):
        whole += 1
    value = whole * scale
    if value > FLT_MAX:
        return sign * math.inf
    return sign * float(value)


def fma32(a, b, c):
    """a*b + c with one rounding to float (finite inputs)."""
    if not all(math.isfinite(v) for v in (a, b, c)):
        return f32(a * b + c)
    return round_exact(Fraction(a) * Fraction(b) + Fraction(c))


def add(a, b): return f32(a + b)
def sub(a, b): return f32(a - b)
def mul(a, b): return f32(a * b)
def quotient(a, b):
    """IEEE double a / b, where Python would raise on a zero divisor."""
    if b == 0:
        if a == 0 or math.isnan(a):
            return math.nan
        return math.copysign(math.inf, a) * math.copysign(1.0, b)
    return a / b


def div(a, b): return f32(quotient(a, b))


# ---- colour layer, one channel ------------------------------------------------

def cap(v): return 1.0 if v > 1.0 else v
def clamp(v): return 0.0 if v < 0.0 else (1.0 if v > 1.0 else v)


def sqrt_any(v):
    return math.sqrt(v) if v >= 0 else math.nan


def blend_channel(model, mode, a, b, t):
    w = model == "wide"
    if mode in (0, 1):
        return b
    if mode in (2, 4):
        return f32(a + b)
    if mode == 3:
        return clamp(f32(a + b))
    if mode == 5:
        return f32(a * b)
    if mode == 6:
        return clamp(f32(a * b))
    if mode == 7:
        return f32((b * t + a) - 1) if w else sub(fma32(b, t, a), 1.0)
    if mode == 8:
        if w:
            return f32((1 - (1 - a) * (1 - b)) * t)
        return mul(sub(1.0, mul(sub(1.0, a), sub(1.0, b))), t)
    if mode == 9:
        return a if a < b else b
    if mode == 10:
        return a if a > b else b
    if mode == 11:
        return f32(abs(a - b * t)) if w else abs(sub(a, mul(b, t)))
    if mode == 12:
        return f32((b * t + a) * 0.5) if w else mul(fma32(b, t, a), 0.5)
    if mode == 13:
        if w:
            return f32(1 - abs((1 - a) - b * t))
        return sub(1.0, abs(sub(sub(1.0, a), mul(b, t))))
    if mode == 14:
        if w:
            return f32((b * t + a) - 2 * a * b * t)
        return sub(fma32(b, t, a), mul(mul(mul(2.0, a), b), t))
    if mode in (15, 16):
        c = a if mode == 15 else b
        if c < 0.5:
            return f32(2 * a * b) if w else mul(mul(2.0, a), b)
        if w:
            return f32(1 - 2 * (1 - a) * (1 - b))
        return sub(1.0, mul(mul(2.0, sub(1.0, a)), sub(1.0, b)))
    if mode == 17:
        if b < 0.5:
            if w:
                return f32((a * a) * (1 - 2 * b) + 2 * a * b)
            return fma32(mul(a, a), sub(1.0, mul(2.0, b)), mul(mul(2.0, a), b))
        if w:
            return f32(sqrt_any(a) * (2 * b - 1) + 2 * a * (1 - b))
        return fma32(f32(sqrt_any(a)), sub(mul(2.0, b), 1.0), mul(mul(2.0, a), sub(1.0, b)))
    if mode == 18:
        if b == 1.0:
            return 1.0
        return cap(f32(quotient(a, 1 - b)) if w else div(a, sub(1.0, b)))
    if mode == 19:
        if b == 0.0:
            return 0.0
        v = f32(1 - quotient(1 - a, b)) if w else sub(1.0, div(sub(1.0, a), b))
        return 0.0 if v < 0.0 else v
    if mode == 20:
        if b == 1.0:
            return 1.0
        return cap(f32(quotient(a * a, 1 - b)) if w else div(mul(a, a), sub(1.0, b)))
    if mode == 21:
        if a == 1.0:
            return 1.0
        return cap(f32(quotient(b * b, 1 - a)) if w else div(mul(b, b), sub(1.0, a)))
    if mode == 22:
        return clamp(f32((2 * b + a) - 1) if w else sub(add(mul(2.0, b), a), 1.0))
    raise ValueError(mode)


def normalise(model, c):
    r, g, b, a = c
    if not (r > 1 or g > 1 or b > 1):
        return c
    if r > g and r > b:
        m = r
    elif r > g:
        m = b
    elif b > g:
        m = b
    else:
        m = g
    if model == "wide":
        inv = quotient(1.0, m)
        return [f32(r * inv), f32(g * inv), f32(b * inv), a]
    return [div(r, m), div(g, m), div(b, m), a]


def mix(model, base, o, w):
    if model == "wide":
        return [f32((oc - ac) * w + ac) for oc, ac in zip(o, base)]
    return [fma32(sub(oc, ac), w, ac) for oc, ac in zip(o, base)]


def blend(model, mode, base, layer, t, use_alpha):
    o = [blend_channel(model, mode, a, b, t) for a, b in zip(base, layer)]
    if mode == 4:
        o = normalise(model, o)
    if use_alpha or mode == 0:
        o = mix(model, base, o, layer[3])
    if t != 1.0:
        o = mix(model, base, o, t)
    return o


# ---- colour correction --------------------------------------------------------

ONE_SIXTH = from_bits(0x3E2AAAAB)
PIVOT = from_bits(0x3E9EB852)


def rgb_to_hsv(model, r, g, b):
    lo = r
    if g < lo: lo = g
    if b < lo: lo = b
    hi = r
    if g > hi: hi = g
    if b > hi: hi = b
    if hi == lo:
        return 0.0, 0.0, hi
    w = model == "wide"
    if r == lo:
        f, k = (g - b) if w else sub(g, b), 3.0
    elif g == lo:
        f, k = (b - r) if w else sub(b, r), 5.0
    else:
        f, k = (r - g) if w else sub(r, g), 1.0
    d = f32(hi - lo)
    if w:
        h = (k - quotient(f, d)) * ONE_SIXTH
    else:
        h = div(sub(k, div(f, d)), 6.0)
    return h, f32(quotient(d, hi)), hi


def hsv_to_rgb(model, h2, s2, v2, rgb):
    x = h2 * 6 if model == "wide" else f32(h2 * 6)
    h6 = f32(x)
    if math.isnan(x) or math.isinf(x):
        return rgb
    i = math.floor(x)
    if not 0 <= i <= 6:
        return rgb
    q = f32(h6 - i)
    if i % 2 == 0:
        q = f32(1 - q)
    if model == "wide":
        m = f32(v2 * (1 - s2))
        n = f32(v2 * (1 - s2 * q))
    else:
        m = mul(v2, sub(1.0, s2))
        n = mul(v2, sub(1.0, mul(s2, q)))
    return {0: [v2, n, m], 1: [n, v2, m], 2: [m, v2, n], 3: [m, n, v2], 4: [n, m, v2],
            5: [v2, m, n], 6: [v2, n, m]}[i]


def correct(model, c, hue, sat, val, gamma, offset, contrast, powf=None):
    c = list(c)
    hf, sf, vf = f32(hue + 1), f32(sat + 1), f32(val + 1)
    neutral = ((vf + sf) + hf == 3.0) if model == "wide" else (add(add(hf, sf), vf) == 3.0)
    if not neutral:
        h, s, v = rgb_to_hsv(model, *c[:3])
        h2, s2, v2 = f32(hf * h), f32(s * sf), f32(v * vf)
        c[:3] = hsv_to_rgb(model, h2, s2, v2, c[:3])
    if gamma != 1.0:
        g = f32(1.0 / gamma) if gamma != 0 else math.copysign(math.inf, gamma)
        c = [f32(x ** g) for x in c]  # only exact powers are used in the tests
    if offset != 0.0:
        c = [f32(offset + x) for x in c]
    if contrast != 1.0:
        if model == "wide":
            t = 1 - contrast
            c = [f32((PIVOT - x) * t + x) for x in c]
        else:
            t = sub(1.0, contrast)
            c = [fma32(sub(PIVOT, x), t, x) for x in c]
    return c


# ---- tools --------------------------------------------------------------------

def search_contrast():
    """Channels and contrasts (two decimals) where the two models' contrast differs."""
    found = 0
    for hundredths in range(1, 100):
        c = f32(hundredths / 100)
        for twentieths in range(1, 40):
            k = f32(twentieths / 20)
            wide = correct("wide", [c] * 4, 0, 0, 0, 1, 0, k)[0]
            single = correct("single", [c] * 4, 0, 0, 0, 1, 0, k)[0]
            if bits(wide) != bits(single):
                print(f"c={c!r} 0x{bits(c):08x} contrast={k!r} 0x{bits(k):08x}: "
                      f"wide 0x{bits(wide):08x} single 0x{bits(single):08x}")
                found += 1
                if found >= 10:
                    return


def value_of(v):
    if isinstance(v, str):
        return from_bits(int(v, 16))
    return f32(float(v))


BLEND_READS = ["blendAmount", "layerColor", "useLayerAlpha", "blendMode"]
CORRECT_READS = ["hueAdjust", "saturationAdjust", "valueAdjust", "gamma", "offset", "contrast"]


def answer(case, model):
    """The stratamix eval answer of a colour-path case (normalEnable 0)."""
    p = case.get("params", {})
    assert not p.get("normalEnable", 0), "colour-path cases only"
    reads = ["normalEnable", "baseColor", "blendEnable"]
    color = [value_of(v) for v in p.get("baseColor", [0, 0, 0, 0])]
    out_of_range = False
    if p.get("blendEnable", 0):
        reads += BLEND_READS
        mode = p.get("blendMode", 0)
        if 0 <= mode <= 22:
            layer = [value_of(v) for v in p.get("layerColor", [0, 0, 0, 0])]
            color = blend(model, mode, color, layer, value_of(p.get("blendAmount", 0)),
                          p.get("useLayerAlpha", 0) != 0)
        else:
            out_of_range = True
    if not out_of_range:
        reads.append("correctEnable")
        if p.get("correctEnable", 0):
            reads += CORRECT_READS
            color = correct(model, color, *(value_of(p.get(k, 0)) for k in CORRECT_READS))
    connect = case.get("connect", "none")
    evaluated = reads if connect == "all" else [r for r in reads if connect != "none" and r in connect]
    normal = [value_of(v) for v in case.get("normal", [0, 0, 1])]
    out = {"return": 1, "outColor": [f"0x{bits(x):08x}" for x in color], "outNormal": None,
           "normal": [f"0x{bits(x):08x}" for x in normal], "evaluated": evaluated}
    return json.dumps(out, separators=(",", ":"))


def eval_file(path, model):
    """Prints the answer stratamix eval should give for each case of a file."""
    for line in open(path):
        if line.strip():
            print(answer(json.loads(line), model))


if __name__ == "__main__":
    if sys.argv[1:2] == ["search-contrast"]:
        search_contrast()
    elif sys.argv[1:2] == ["eval"]:
        eval_file(sys.argv[2], sys.argv[3])
    else:
        print(__doc__)

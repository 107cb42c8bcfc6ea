#!/usr/bin/env bash
# Renders the manual's pictures afresh through the plug-in with the built
# stratamix preview: the three contact sheets, small, and each cell of the
# blend-mode sheet on its own, a little larger; and with stratamix bake, an
# example look's colour and normal maps on the example mesh.
#
#   docs/make-images.sh [OUT_DIR]     (default docs/images; needs build/native)
#
# With SERVE_SHOT, the browser journey's screenshot of the look-development
# page, it is copied to serve.png beside OUT_DIR (docs/serve.png); the
# docs_images target makes it and runs this so. The manual_images test
# renders the pictures again into a folder of its own and requires the same
# files as the checked-in ones; the journey holds docs/serve.png to what
# the page shows.
set -euo pipefail
cd "$(dirname "$0")/.."

out=${1:-docs/images}
stratamix=${STRATAMIX:-build/native/bin/stratamix}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

preview() { "$stratamix" preview "$@" >/dev/null; }
preview --sheet blend-modes --cell 40 --out "$work"
preview --sheet color-correct --cell 48 --out "$work"
preview --sheet normals --cell 56 --out "$work"
preview --sheet blend-modes --cell 64 --cells --out "$work/cells"
"$stratamix" bake preview/presets/layered-bumps.preset --mesh bake/examples/vase.obj --size 256 \
  --aa 2 --maps color,normal --out "$work/bake" >/dev/null
# The pictures without the maps' text chunks (the look, the mesh, the
# release), so that they change only when the texels do.
for map in color normal; do
  python3 - "$work/bake/layered-bumps_$map.1001.png" "$work/bake-$map.png" <<'EOF'
import struct, sys
data = open(sys.argv[1], "rb").read()
out, at = [data[:8]], 8
while at < len(data):
    length, kind = struct.unpack(">I4s", data[at:at + 8])
    if kind not in (b"tEXt", b"zTXt", b"iTXt"):
        out.append(data[at:at + 12 + length])
    at += 12 + length
open(sys.argv[2], "wb").write(b"".join(out))
EOF
done

mkdir -p "$out"
rm -f "$out"/*.png
cp "$work"/*.png "$work"/cells/blend-modes-??.png "$out"/
echo "docs/make-images.sh: $(find "$out" -name '*.png' | wc -l) pictures," \
  "$(du -cb "$out"/*.png | tail -n 1 | cut -f1) bytes in $out" >&2
if [[ -n ${SERVE_SHOT:-} ]]; then
  cp "$SERVE_SHOT" "$(dirname "$out")/serve.png"
  echo "docs/make-images.sh: the page's picture in $(dirname "$out")/serve.png" >&2
fi

# The documents every install and archive carries under share/doc/strataMix/:
# the README, the licence, the performance page the README links to, the
# manual with its pictures (what docs/make-images.sh makes, held to it by
# manual_images), the example presets and the bake's example mesh.  SOURCE_DIR  the source tree
file(GLOB strata_images RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/docs/images/*.png)
set(strata_doc_files
  share/doc/strataMix/LICENSE
  share/doc/strataMix/README.md
  share/doc/strataMix/docs/manual.md
  share/doc/strataMix/docs/performance.md
  share/doc/strataMix/docs/performance.svg
  share/doc/strataMix/docs/serve.png
  share/doc/strataMix/preview/presets/layered-bumps.preset
  share/doc/strataMix/preview/presets/overlay-checker.preset
  share/doc/strataMix/bake/examples/vase.obj)
foreach(image IN LISTS strata_images)
  list(APPEND strata_doc_files share/doc/strataMix/${image})
endforeach()

# The release archives, made by the package target: one per shipping build,
# holding the install layout under one top folder named as the archive is.
#
# Only a shipping platform built in its own float model and without
# sanitizers makes one, so that no archive named for a platform ever holds
# another build's bits (native-single would otherwise make a
# strataMix-*-linux-x86_64 of the single model).

# The README, the licence, the manual with its pictures, the example
# presets and the bake's example mesh travel with every install, not only the archives, laid out as in
# the source tree so that the README's and the manual's links resolve there.
install(FILES README.md LICENSE DESTINATION share/doc/strataMix)
install(FILES docs/manual.md docs/serve.png docs/performance.md docs/performance.svg
        DESTINATION share/doc/strataMix/docs)
install(DIRECTORY docs/images/ DESTINATION share/doc/strataMix/docs/images
        FILES_MATCHING PATTERN "*.png")
install(DIRECTORY preview/presets/ DESTINATION share/doc/strataMix/preview/presets
        FILES_MATCHING PATTERN "*.preset")
install(FILES bake/examples/vase.obj DESTINATION share/doc/strataMix/bake/examples)

if(CMAKE_SYSTEM_NAME STREQUAL "Linux" AND CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  set(STRATAMIX_PACKAGE_PLATFORM linux-x86_64)
  set(CPACK_GENERATOR TGZ)
elseif(CMAKE_SYSTEM_NAME STREQUAL "Windows" AND CMAKE_SYSTEM_PROCESSOR STREQUAL "x86")
  set(STRATAMIX_PACKAGE_PLATFORM windows-x86)
  set(CPACK_GENERATOR ZIP)
elseif(CMAKE_SYSTEM_NAME STREQUAL "Linux" AND CMAKE_SYSTEM_PROCESSOR STREQUAL "powerpc")
  set(STRATAMIX_PACKAGE_PLATFORM linux-powerpc)
  set(CPACK_GENERATOR TGZ)
else()
  set(STRATAMIX_PACKAGE_PLATFORM "")
endif()
if(NOT STRATAMIX_FLOAT_MODEL STREQUAL _strata_default_model OR STRATAMIX_SANITIZE
   OR NOT STRATAMIX_BUILD_TOOLS)
  set(STRATAMIX_PACKAGE_PLATFORM "")
endif()

if(STRATAMIX_PACKAGE_PLATFORM)
  set(CPACK_PACKAGE_NAME strataMix)
  set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
  set(CPACK_PACKAGE_FILE_NAME strataMix-${PROJECT_VERSION}-${STRATAMIX_PACKAGE_PLATFORM})
  set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR})
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
  # The build is RelWithDebInfo for the tests and the profiler; a renderer
  # loading the plug-in has no use for the debugging sections.
  set(CPACK_STRIP_FILES ON)
  set(CPACK_VERBATIM_VARIABLES ON)
  # Named before CPack, which leaves its source package's names behind.
  if(CPACK_GENERATOR STREQUAL "ZIP")
    set(STRATAMIX_PACKAGE_FILE ${PROJECT_BINARY_DIR}/${CPACK_PACKAGE_FILE_NAME}.zip)
  else()
    set(STRATAMIX_PACKAGE_FILE ${PROJECT_BINARY_DIR}/${CPACK_PACKAGE_FILE_NAME}.tar.gz)
  endif()
  include(CPack)
  # The porters' conformance pack (conformance/), beside the native archive.
  if(STRATAMIX_PACKAGE_PLATFORM STREQUAL "linux-x86_64")
    set(STRATAMIX_CONFORMANCE_NAME strataMix-conformance-${PROJECT_VERSION})
    set(STRATAMIX_CONFORMANCE_FILE ${PROJECT_BINARY_DIR}/${STRATAMIX_CONFORMANCE_NAME}.tar.gz)
  endif()
else()
  message(STATUS "No release archive: not a shipping build")
endif()

# The libraries the tests and tools use, found natively from the build
# machine's packages, and in a cross build taken from what of them the target
# can use: GoogleTest compiled from Debian's sources, the JSON and the option
# parsing libraries' headers alone (the rest of the build machine's include
# folder holds its own C library, not the target's).

macro(strata_find_gtest)
  if(CMAKE_CROSSCOMPILING)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  else()
    find_package(GTest REQUIRED)
  endif()
endmacro()

# A header-only library of the build machine, for a cross build: its folder
# of headers copied where the target's compiler can be pointed, as the
# imported target `target`.
function(strata_copy_build_machine_headers target header folder)
  if(TARGET ${target})
    return()
  endif()
  find_path(STRATAMIX_${folder}_INCLUDE ${header} PATHS /usr/include NO_DEFAULT_PATH
            NO_CMAKE_FIND_ROOT_PATH REQUIRED)
  set(headers ${CMAKE_BINARY_DIR}/build-machine-headers)
  file(COPY ${STRATAMIX_${folder}_INCLUDE}/${folder} DESTINATION ${headers})
  add_library(${target} INTERFACE IMPORTED GLOBAL)
  set_target_properties(${target} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${headers})
endfunction()

function(strata_find_json)
  if(NOT CMAKE_CROSSCOMPILING)
    find_package(nlohmann_json 3 REQUIRED)
    return()
  endif()
  strata_copy_build_machine_headers(nlohmann_json::nlohmann_json nlohmann/json.hpp nlohmann)
endfunction()

# CLI11 (Debian's libcli11-dev), the tools' option parser.
function(strata_find_cli11)
  if(NOT CMAKE_CROSSCOMPILING)
    find_package(CLI11 2 REQUIRED CONFIG)
    return()
  endif()
  strata_copy_build_machine_headers(CLI11::CLI11 CLI/CLI.hpp CLI)
endfunction()

# Natively each test case is a ctest test of its own. Under an emulator every
# process start is costly (Wine's above all), so a suite runs as one test;
# ctest puts the emulator in front of a command that names a target.
function(strata_add_gtest target)
  if(CMAKE_CROSSCOMPILING)
    add_test(NAME ${target} COMMAND ${target})
  else()
    include(GoogleTest)
    gtest_discover_tests(${target} DISCOVERY_MODE PRE_TEST)
  endif()
endfunction()

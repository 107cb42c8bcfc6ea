# The description of the contract as a file of the build tree,
# ${STRATAMIX_DESCRIPTION} (target `description`), which the Python
# generators and comparers read instead of restating the record, the modes
# and the ray codes. A native build writes it with `stratamix describe`
# (without the tool, with the contract's own generator). A cross build's
# programs may not run on the build machine, so it compiles that generator
# for the build machine from the same sources and runs it there.
set(STRATAMIX_DESCRIPTION ${CMAKE_BINARY_DIR}/description.json)

function(strata_description_file)
  set(out ${STRATAMIX_DESCRIPTION})
  if(NOT CMAKE_CROSSCOMPILING AND TARGET stratamix)
    # Where the preview is built, stratamix hands describe over to
    # stratamix-images, whose lists it prints.
    add_custom_command(OUTPUT ${out}
                       COMMAND stratamix describe --output ${out}
                       DEPENDS stratamix $<TARGET_NAME_IF_EXISTS:stratamix-images>
                       COMMENT "Describing the contract (stratamix describe)")
  elseif(NOT CMAKE_CROSSCOMPILING)
    add_executable(strata_describe ${PROJECT_SOURCE_DIR}/describe/generate.cpp)
    target_link_libraries(strata_describe PRIVATE strata_description strata_warnings)
    add_custom_command(OUTPUT ${out} COMMAND strata_describe ${out} DEPENDS strata_describe
                       COMMENT "Describing the contract")
  else()
    find_program(STRATAMIX_BUILD_MACHINE_CXX NAMES c++ g++ NO_CMAKE_FIND_ROOT_PATH REQUIRED)
    set(generator ${CMAKE_BINARY_DIR}/build-machine/describe)
    set(sources ${PROJECT_SOURCE_DIR}/describe/generate.cpp
                ${PROJECT_SOURCE_DIR}/describe/description.cpp
                ${PROJECT_SOURCE_DIR}/shader/fields.cpp)
    file(GLOB headers ${PROJECT_SOURCE_DIR}/describe/*.h ${PROJECT_SOURCE_DIR}/shader/*.h
                      ${PROJECT_SOURCE_DIR}/renderer/*.h)
    add_custom_command(
      OUTPUT ${generator}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/build-machine
      COMMAND ${STRATAMIX_BUILD_MACHINE_CXX} -std=c++17 -O1 -Wall -Wextra -Werror
              -I${PROJECT_SOURCE_DIR}/describe -I${PROJECT_SOURCE_DIR}/shader
              -I${PROJECT_SOURCE_DIR}/renderer ${sources} -o ${generator}
      DEPENDS ${sources} ${headers}
      COMMENT "Compiling the contract's describer for the build machine")
    add_custom_command(OUTPUT ${out} COMMAND ${generator} ${out} DEPENDS ${generator}
                       COMMENT "Describing the contract")
  endif()
  add_custom_target(description ALL DEPENDS ${out})
endfunction()

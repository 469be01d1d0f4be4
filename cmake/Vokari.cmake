# Helpers that keep each subsystem's CMakeLists.txt to a line or two.
#
# vokari_library(<name> [OBJECT] [FP_STRICT] [DEPENDS <targets>...])
#   Builds every .cpp in the calling folder (not its sub-folders) into the
#   target vk_<name>. Without sources the target is an INTERFACE library so
#   that dependants link before the folder has code. OBJECT makes an object
#   library (its symbols go into every program that links it, which keeps
#   exported functions in the program's dynamic symbol table). FP_STRICT
#   turns off floating-point contraction: results must not depend on whether
#   the compiler fused a multiply and an add.
function(vokari_library name)
  cmake_parse_arguments(ARG "OBJECT;FP_STRICT" "" "DEPENDS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  set(target vk_${name})
  if(sources)
    if(ARG_OBJECT)
      add_library(${target} OBJECT ${sources})
    else()
      add_library(${target} STATIC ${sources})
    endif()
    target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${target} PUBLIC ${ARG_DEPENDS})
    if(ARG_FP_STRICT)
      target_compile_options(${target} PRIVATE -ffp-contract=off)
    endif()
  else()
    add_library(${target} INTERFACE)
    target_include_directories(${target} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${target} INTERFACE ${ARG_DEPENDS})
  endif()
endfunction()

# vokari_tests(<name> [DEPENDS <targets>...])
#   Builds the tests of the calling folder. Files ending in
#   IntegrationTest.cpp go into test_<name>_integration (label integration:
#   real loopback servers), files ending in GuiTest.cpp into test_<name>_gui
#   (label gui), every other *Test.cpp into test_<name> (label unit). Any
#   other .cpp in the folder is a shared fixture linked into all three.
function(vokari_tests name)
  cmake_parse_arguments(ARG "" "" "DEPENDS" ${ARGN})
  file(GLOB all CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  set(unit "")
  set(integration "")
  set(gui "")
  set(support "")
  foreach(f ${all})
    if(f MATCHES "IntegrationTest\\.cpp$")
      list(APPEND integration ${f})
    elseif(f MATCHES "GuiTest\\.cpp$")
      list(APPEND gui ${f})
    elseif(f MATCHES "Test\\.cpp$")
      list(APPEND unit ${f})
    else()
      list(APPEND support ${f})
    endif()
  endforeach()
  foreach(kind unit integration gui)
    if(NOT ${kind})
      continue()
    endif()
    if(kind STREQUAL "unit")
      set(exe test_${name})
    else()
      set(exe test_${name}_${kind})
    endif()
    add_executable(${exe} ${${kind}} ${support})
    set_target_properties(${exe} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
    target_include_directories(${exe} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
    target_link_libraries(${exe} PRIVATE ${ARG_DEPENDS} GTest::gtest GTest::gtest_main)
    target_compile_definitions(${exe} PRIVATE
      VOKARI_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
      VOKARI_BINARY_DIR="${CMAKE_BINARY_DIR}"
      VOKARI_BIN_DIR="${VOKARI_BIN_DIR}")
    gtest_discover_tests(${exe}
      DISCOVERY_MODE PRE_TEST
      DISCOVERY_TIMEOUT 60
      PROPERTIES LABELS ${kind})
  endforeach()
endfunction()

# vokari_fuzzer(<name> SOURCE <file> [CORPUS <folder>] DEPENDS <targets>...)
#   A libFuzzer target fuzz_<name> for a parser of outside input, built only
#   in a clang tree configured with -DVOKARI_FUZZ=ON (scripts/fuzz.sh makes
#   one). CORPUS is its seed folder; scripts/fuzz.sh finds it through
#   fuzz/<target>.corpus-path in the build tree.
function(vokari_fuzzer name)
  if(NOT VOKARI_FUZZ)
    return()
  endif()
  cmake_parse_arguments(ARG "" "SOURCE;CORPUS" "DEPENDS" ${ARGN})
  set(target fuzz_${name})
  add_executable(${target} ${ARG_SOURCE})
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/src ${CMAKE_CURRENT_SOURCE_DIR})
  target_compile_options(${target} PRIVATE -fsanitize=fuzzer)
  target_link_options(${target} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${target} PRIVATE ${ARG_DEPENDS})
  set(corpus "")
  if(ARG_CORPUS)
    get_filename_component(corpus ${ARG_CORPUS} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
  endif()
  file(WRITE ${CMAKE_BINARY_DIR}/fuzz/${target}.corpus-path "${corpus}")
endfunction()

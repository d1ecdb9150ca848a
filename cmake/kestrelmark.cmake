# Helpers shared by the directories. Sources are globbed so that adding a
# file never means editing a CMakeLists: *_win.cpp is Windows-only,
# *_test.cpp is a native test, *_win_test.cpp a test that runs under Wine.

# km_library(name DIR dir [DEPS ...]): a static library from dir's sources.
function(km_library name)
  cmake_parse_arguments(KM "" "DIR" "DEPS" ${ARGN})
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${KM_DIR}/*.cpp)
  if(NOT WIN32)
    list(FILTER sources EXCLUDE REGEX "_win\\.cpp$")
    list(FILTER sources EXCLUDE REGEX "/win32/")
  endif()
  if(sources)
    add_library(${name} STATIC ${sources})
  else()
    add_library(${name} INTERFACE)
    set(KM_DEPS_KIND INTERFACE)
  endif()
  if(KM_DEPS)
    if(sources)
      target_link_libraries(${name} PUBLIC ${KM_DEPS})
    else()
      target_link_libraries(${name} INTERFACE ${KM_DEPS})
    endif()
  endif()
endfunction()

# Every Windows program carries the manifest (UTF-8 code page, visual
# styles, per-monitor DPI awareness).
set(KM_MANIFEST_RC ${CMAKE_SOURCE_DIR}/resources/manifest_only.rc)

# km_tests(dir DEPS ...): one test program per kind found in tests/<dir>.
function(km_tests dir)
  cmake_parse_arguments(KM "" "" "DEPS;WIN_DEPS" ${ARGN})
  set(root ${CMAKE_SOURCE_DIR}/tests/${dir})
  file(GLOB native CONFIGURE_DEPENDS ${root}/*_test.cpp)
  list(FILTER native EXCLUDE REGEX "_win_test\\.cpp$")
  file(GLOB windows CONFIGURE_DEPENDS ${root}/*_win_test.cpp)
  if(NOT WIN32 AND native)
    add_executable(${dir}_tests ${native})
    target_link_libraries(${dir}_tests PRIVATE ${KM_DEPS} GTest::gtest GTest::gtest_main)
    add_test(NAME ${dir}_tests COMMAND ${dir}_tests --gtest_output=xml:${dir}_tests.xml)
  endif()
  if(WIN32 AND windows)
    add_executable(${dir}_win_tests ${windows} ${KM_MANIFEST_RC})
    target_link_libraries(${dir}_win_tests PRIVATE ${KM_DEPS} ${KM_WIN_DEPS} km_test_support gtest gtest_main)
    target_include_directories(${dir}_win_tests PRIVATE /usr/src/googletest/googletest/include)
    add_test(NAME ${dir}_win_tests COMMAND ${dir}_win_tests --gtest_output=xml:${dir}_win_tests.xml)
    set_tests_properties(${dir}_win_tests PROPERTIES TIMEOUT 600)
  endif()
endfunction()

# km_fuzzers(dir DEPS ...): one libFuzzer program per <dir>/*_fuzzer.cpp
# (fuzz side only), each also a bounded ctest run seeded from
# <dir>/corpus/<program>/. The inputs it finds go to the build tree, never
# to the seeds; an input that fails is kept as <build>/artifacts/<program>-*.
function(km_fuzzers dir)
  cmake_parse_arguments(KM "" "" "DEPS" ${ARGN})
  set(root ${CMAKE_SOURCE_DIR}/${dir})
  file(GLOB sources CONFIGURE_DEPENDS ${root}/*_fuzzer.cpp)
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/artifacts)
  foreach(source ${sources})
    get_filename_component(name ${source} NAME_WE)
    add_executable(${name} ${source})
    target_link_libraries(${name} PRIVATE ${KM_DEPS})
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    set(found ${CMAKE_BINARY_DIR}/corpus/${name})
    file(MAKE_DIRECTORY ${found})
    set(seeds ${root}/corpus/${name})
    if(NOT IS_DIRECTORY ${seeds})
      message(FATAL_ERROR "${name} has no seed inputs: add at least one file to ${seeds}/")
    endif()
    add_test(NAME ${name}
             COMMAND ${name} -runs=${KM_FUZZ_RUNS} -max_total_time=${KM_FUZZ_SECONDS}
                     -timeout=20 -print_final_stats=1
                     -artifact_prefix=${CMAKE_BINARY_DIR}/artifacts/${name}-
                     ${found} ${seeds})
    if(KM_SYMBOLIZER)
      set_tests_properties(${name} PROPERTIES ENVIRONMENT ASAN_SYMBOLIZER_PATH=${KM_SYMBOLIZER})
    endif()
  endforeach()
endfunction()

# Helpers shared by the directories. Sources are globbed so that adding a
# file never means editing a CMakeLists: *_win.cpp is Windows-only,
# *_test.cpp is a native test, *_win_test.cpp a test that runs under Wine.
#
# Layering: there is no include folder common to all. Each target exposes
# its own folder (km_expose) and sees only the folders of the targets it
# links, so an include across the layers ("engine/" including "ui/...")
# fails to build. A folder is exposed through a link in the build tree,
# <build>/include/<tag>/<folder> -> <source>/<folder>, so includes keep the
# form "folder/file.h".

set(KM_INCLUDE_ROOT ${CMAKE_BINARY_DIR}/include)

# km_expose(target folder [FILES_ONLY] [INTERFACE]): "folder/..." becomes
# reachable for target and for everything that links it. FILES_ONLY
# exposes the folder's own headers but not its subfolders (platform/
# without platform/win32/ and platform/memory/).
function(km_expose target folder)
  cmake_parse_arguments(KM "FILES_ONLY;INTERFACE" "" "" ${ARGN})
  string(REPLACE "/" "_" tag ${folder})
  set(root ${KM_INCLUDE_ROOT}/${tag})
  set(link ${root}/${folder})
  get_filename_component(parent ${link} DIRECTORY)
  file(MAKE_DIRECTORY ${parent})
  if(KM_FILES_ONLY)
    file(MAKE_DIRECTORY ${link})
    file(GLOB headers CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${folder}/*.h)
    foreach(header ${headers})
      get_filename_component(name ${header} NAME)
      if(NOT EXISTS ${link}/${name})
        file(CREATE_LINK ${header} ${link}/${name} SYMBOLIC)
      endif()
    endforeach()
  elseif(NOT EXISTS ${link})
    file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${folder} ${link} SYMBOLIC)
  endif()
  if(KM_INTERFACE)
    target_include_directories(${target} INTERFACE ${root})
  else()
    target_include_directories(${target} PUBLIC ${root})
  endif()
endfunction()

# km_library(name DIR dir [DEPS ...]): a static library from dir's sources,
# exposing dir and linking (and seeing) only DEPS.
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
  file(RELATIVE_PATH folder ${CMAKE_SOURCE_DIR} ${KM_DIR})
  if(sources)
    km_expose(${name} ${folder})
  else()
    km_expose(${name} ${folder} INTERFACE)
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
    target_link_libraries(${dir}_tests PRIVATE ${KM_DEPS} km_test_headers GTest::gtest GTest::gtest_main)
    add_test(NAME ${dir}_tests COMMAND ${dir}_tests --gtest_output=xml:${dir}_tests.xml)
  endif()
  if(WIN32 AND windows)
    add_executable(${dir}_win_tests ${windows} ${KM_MANIFEST_RC})
    target_link_libraries(${dir}_win_tests PRIVATE ${KM_DEPS} ${KM_WIN_DEPS} km_test_headers km_test_support gtest gtest_main)
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
    target_link_libraries(${name} PRIVATE ${KM_DEPS} km_fuzz_headers)
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

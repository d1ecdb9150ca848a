# The fuzz side: every library compiled with libFuzzer's coverage and the
# sanitizers, so a fault anywhere below a fuzz program stops it at once.
if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  message(FATAL_ERROR "KM_FUZZ needs clang (libFuzzer): configure with -DCMAKE_CXX_COMPILER=clang++")
endif()
add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined
                    -fno-omit-frame-pointer)
add_link_options(-fsanitize=address,undefined)

# The bounded run that tools/test.sh makes of each program (ctest); the
# longer run is tools/fuzz.sh.
set(KM_FUZZ_RUNS 200000 CACHE STRING "Inputs per fuzz program in a test run")
set(KM_FUZZ_SECONDS 8 CACHE STRING "Time limit per fuzz program in a test run (s)")
# Stack traces with names and lines, where a symbolizer is installed.
find_program(KM_SYMBOLIZER NAMES llvm-symbolizer-16 llvm-symbolizer)

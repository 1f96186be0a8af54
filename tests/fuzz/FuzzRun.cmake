# Shared by the Run*Fuzzer.cmake scripts: builds a libFuzzer target and its seed writer with
# clang in a folder of their own, writes the seed corpus and fuzzes for a fixed time. Any
# crash, sanitizer report or leak fails the test. Each script sets the sources and calls
# kestrel_run_fuzzer().
foreach(var CLANGXX SOURCE_DIR WORK_DIR SECONDS)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "${CMAKE_SCRIPT_MODE_FILE} needs -D${var}=...")
  endif()
endforeach()
if(NOT CLANGXX OR NOT EXISTS "${CLANGXX}")
  message(FATAL_ERROR "clang++ is needed for the fuzz test; scripts/setup.sh installs it")
endif()

set(common_flags -std=c++20 -g -O1 -Wall -Wextra -Werror -I${SOURCE_DIR}/src -I${SOURCE_DIR}/tests)

# Rebuilds only when a source is newer than the program, so that repeated test runs spend
# their time fuzzing.
function(build_if_stale program)
  set(stale FALSE)
  if(NOT EXISTS ${program})
    set(stale TRUE)
  endif()
  foreach(source IN LISTS ARGN headers)
    if(EXISTS ${source} AND ${source} IS_NEWER_THAN ${program})
      set(stale TRUE)
    endif()
  endforeach()
  set(stale ${stale} PARENT_SCOPE)
endfunction()

function(compile program flags)
  build_if_stale(${program} ${ARGN})
  if(NOT stale)
    return()
  endif()
  execute_process(COMMAND ${CLANGXX} ${common_flags} ${flags} ${ARGN} -o ${program}.new
                  RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "compiling ${program} failed")
  endif()
  file(RENAME ${program}.new ${program})
endfunction()

# kestrel_run_fuzzer(<fuzzer> <seed writer> <max input length>) with `fuzzer_sources`,
# `seed_sources` and `headers` set.
function(kestrel_run_fuzzer fuzzer seeds max_len)
  file(MAKE_DIRECTORY ${WORK_DIR})
  compile(${WORK_DIR}/${fuzzer}
          "-fsanitize=fuzzer,address,undefined;-fno-sanitize-recover=all" ${fuzzer_sources})
  compile(${WORK_DIR}/${seeds} "-O0;-g0" ${seed_sources})

  file(REMOVE_RECURSE ${WORK_DIR}/corpus)
  file(MAKE_DIRECTORY ${WORK_DIR}/corpus ${WORK_DIR}/artifacts)
  execute_process(COMMAND ${WORK_DIR}/${seeds} ${WORK_DIR}/corpus RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "writing the seed corpus failed")
  endif()

  execute_process(
    COMMAND ${WORK_DIR}/${fuzzer}
            -max_total_time=${SECONDS} -timeout=10 -rss_limit_mb=1024 -max_len=${max_len}
            -print_final_stats=1 -artifact_prefix=${WORK_DIR}/artifacts/
            ${WORK_DIR}/corpus
    RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "the fuzzer found a fault; the input is in ${WORK_DIR}/artifacts")
  endif()
endfunction()

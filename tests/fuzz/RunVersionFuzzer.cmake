# Builds the version-resource fuzzer with clang (libFuzzer, AddressSanitizer, UBSan) in its own
# folder, writes its seed corpus and runs it for a fixed time. Any crash, sanitizer report or
# leak fails the test. Run by CTest:
#   cmake -DCLANGXX=... -DSOURCE_DIR=... -DWORK_DIR=... -DSECONDS=20 -P RunVersionFuzzer.cmake
foreach(var CLANGXX SOURCE_DIR WORK_DIR SECONDS)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "RunVersionFuzzer.cmake needs -D${var}=...")
  endif()
endforeach()
if(NOT CLANGXX OR NOT EXISTS "${CLANGXX}")
  message(FATAL_ERROR "clang++ is needed for the fuzz test; scripts/setup.sh installs it")
endif()

set(fuzzer_sources
  ${SOURCE_DIR}/tests/fuzz/FuzzVersionResource.cpp
  ${SOURCE_DIR}/src/os/PeImage.cpp
  ${SOURCE_DIR}/src/snapshot/VersionInfo.cpp
  ${SOURCE_DIR}/src/snapshot/GetFileVersionStrings.cpp)
set(seed_sources
  ${SOURCE_DIR}/tests/fuzz/MakeVersionSeeds.cpp
  ${SOURCE_DIR}/tests/snapshot/PeBuilder.cpp)
set(headers
  ${SOURCE_DIR}/src/os/PeImage.h
  ${SOURCE_DIR}/src/os/FileVersion.h
  ${SOURCE_DIR}/src/snapshot/VersionInfo.h
  ${SOURCE_DIR}/src/snapshot/UnitGetTcpUdpTable.h
  ${SOURCE_DIR}/tests/snapshot/PeBuilder.h)
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

file(MAKE_DIRECTORY ${WORK_DIR})
compile(${WORK_DIR}/fuzz_version_resource
        "-fsanitize=fuzzer,address,undefined;-fno-sanitize-recover=all" ${fuzzer_sources})
compile(${WORK_DIR}/make_version_seeds "-O0;-g0" ${seed_sources})

file(REMOVE_RECURSE ${WORK_DIR}/corpus)
file(MAKE_DIRECTORY ${WORK_DIR}/corpus ${WORK_DIR}/artifacts)
execute_process(COMMAND ${WORK_DIR}/make_version_seeds ${WORK_DIR}/corpus RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "writing the seed corpus failed")
endif()

execute_process(
  COMMAND ${WORK_DIR}/fuzz_version_resource
          -max_total_time=${SECONDS} -timeout=10 -rss_limit_mb=1024 -max_len=70000
          -print_final_stats=1 -artifact_prefix=${WORK_DIR}/artifacts/
          ${WORK_DIR}/corpus
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "the fuzzer found a fault; the input is in ${WORK_DIR}/artifacts")
endif()

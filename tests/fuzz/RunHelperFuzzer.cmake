# Builds the helper protocol fuzzer with clang (libFuzzer, AddressSanitizer, UBSan), writes its
# seed corpus and runs it for a fixed time. Run by CTest:
#   cmake -DCLANGXX=... -DSOURCE_DIR=... -DWORK_DIR=... -DSECONDS=15 -P RunHelperFuzzer.cmake
set(fuzzer_sources
  ${SOURCE_DIR}/tests/fuzz/FuzzHelperProtocol.cpp
  ${SOURCE_DIR}/src/helper/HelperProtocol.cpp)
set(seed_sources
  ${SOURCE_DIR}/tests/fuzz/MakeHelperSeeds.cpp
  ${SOURCE_DIR}/src/helper/HelperProtocol.cpp)
set(headers ${SOURCE_DIR}/src/helper/HelperProtocol.h)
include(${CMAKE_CURRENT_LIST_DIR}/FuzzRun.cmake)
kestrel_run_fuzzer(fuzz_helper_protocol make_helper_seeds 20000)

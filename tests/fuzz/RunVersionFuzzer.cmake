# Builds the version-resource fuzzer with clang (libFuzzer, AddressSanitizer, UBSan) in its own
# folder, writes its seed corpus and runs it for a fixed time. Any crash, sanitizer report or
# leak fails the test. Run by CTest:
#   cmake -DCLANGXX=... -DSOURCE_DIR=... -DWORK_DIR=... -DSECONDS=20 -P RunVersionFuzzer.cmake
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
include(${CMAKE_CURRENT_LIST_DIR}/FuzzRun.cmake)
kestrel_run_fuzzer(fuzz_version_resource make_version_seeds 70000)

# Version resources: a builder of version blocks and PE files for the tests, the reader's
# unit tests, and a short libFuzzer run over the PE walk and the block queries.
add_library(kestrel_pe_builder STATIC ${CMAKE_CURRENT_LIST_DIR}/PeBuilder.cpp)
target_include_directories(kestrel_pe_builder PUBLIC ${PROJECT_SOURCE_DIR}/tests)
target_link_libraries(kestrel_pe_builder PRIVATE kestrel_warnings)

kestrel_add_gtest(version_info_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_VersionInfo.cpp
  LIBS kestrel_snapshot kestrel_pe_builder
  LABELS snapshot)
kestrel_add_gtest(pe_image_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_PeImage.cpp
  LIBS kestrel_os kestrel_pe_builder
  LABELS snapshot)
kestrel_add_gtest(get_file_version_strings_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_GetFileVersionStrings.cpp
  LIBS kestrel_snapshot kestrel_os_fake kestrel_pe_builder
  LABELS snapshot)

# The fuzzer is built by clang in a folder of its own (the main build may use g++), with a
# seed corpus it writes itself, and runs for a fixed 20 s.
# A cross build skips it: the fuzzer runs on the build machine, as in the native build.
if(NOT CMAKE_CROSSCOMPILING)
  find_program(KESTREL_CLANGXX NAMES clang++ clang++-14)
  add_test(NAME version_resource_fuzz
    COMMAND ${CMAKE_COMMAND} -DCLANGXX=${KESTREL_CLANGXX} -DSOURCE_DIR=${PROJECT_SOURCE_DIR}
            -DWORK_DIR=${CMAKE_CURRENT_BINARY_DIR}/fuzz_version -DSECONDS=20
            -P ${PROJECT_SOURCE_DIR}/tests/fuzz/RunVersionFuzzer.cmake)
  set_tests_properties(version_resource_fuzz PROPERTIES TIMEOUT 240 LABELS fuzz)
endif()

# With -DKESTREL_FUZZ=ON in a clang build, the same fuzzer as a target for longer runs.
if(KESTREL_FUZZ)
  add_executable(fuzz_version_resource
    ${PROJECT_SOURCE_DIR}/tests/fuzz/FuzzVersionResource.cpp
    ${PROJECT_SOURCE_DIR}/src/os/PeImage.cpp
    ${PROJECT_SOURCE_DIR}/src/snapshot/VersionInfo.cpp
    ${PROJECT_SOURCE_DIR}/src/snapshot/GetFileVersionStrings.cpp)
  target_include_directories(fuzz_version_resource PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
  target_compile_options(fuzz_version_resource PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_options(fuzz_version_resource PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_libraries(fuzz_version_resource PRIVATE kestrel_warnings)
endif()

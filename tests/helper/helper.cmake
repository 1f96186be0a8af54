# kestrel-helper: its protocol and policy as units, the real program against a hostile
# parent, and (as root) an unprivileged user's view with and without its capabilities.
kestrel_add_gtest(helper_protocol_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/HelperProtocolTest.cpp
  LIBS kestrel_helper_protocol
  LABELS helper)
kestrel_add_gtest(helper_policy_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/HelperPolicyTest.cpp
  LIBS kestrel_helper_core
  LABELS helper)
# A test that starts the built helper (KESTREL_HELPER_PATH).
function(kestrel_add_helper_gtest name source lib)
  kestrel_add_gtest(${name} SOURCES ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/${source} LIBS ${lib}
                    LABELS helper live ${ARGN})
  add_dependencies(${name} kestrel-helper)
  target_compile_definitions(${name} PRIVATE KESTREL_HELPER_PATH="$<TARGET_FILE:kestrel-helper>")
endfunction()
kestrel_add_helper_gtest(helper_process_test HelperProcessTest.cpp kestrel_helper_protocol)

# A short libFuzzer run over both sides' parsing, built with clang in its own folder.
if(NOT CMAKE_CROSSCOMPILING)
  find_program(KESTREL_CLANGXX NAMES clang++ clang++-14)
  add_test(NAME helper_protocol_fuzz
    COMMAND ${CMAKE_COMMAND} -DCLANGXX=${KESTREL_CLANGXX} -DSOURCE_DIR=${PROJECT_SOURCE_DIR}
            -DWORK_DIR=${CMAKE_CURRENT_BINARY_DIR}/fuzz_helper -DSECONDS=15
            -P ${PROJECT_SOURCE_DIR}/tests/fuzz/RunHelperFuzzer.cmake)
  set_tests_properties(helper_protocol_fuzz PROPERTIES TIMEOUT 240 LABELS "fuzz;helper")
endif()

# An ordinary user's view of a root listener through kestrel-snapshot, with and without the
# helper's capabilities (needs root; skipped otherwise).
add_test(NAME helper.UnprivilegedUserSnapshot
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/helper_user_test.sh $<TARGET_FILE:kestrel-snapshot>
          $<TARGET_FILE:kestrel-helper>)
set_tests_properties(helper.UnprivilegedUserSnapshot PROPERTIES
  LABELS "helper;live" SKIP_RETURN_CODE 77 TIMEOUT 120)

# What `cmake --install` does with the helper (needs root; skipped otherwise).
add_test(NAME helper.InstallGivesCapabilities
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/helper_install_test.sh ${PROJECT_BINARY_DIR}
          ${PROJECT_SOURCE_DIR})
set_tests_properties(helper.InstallGivesCapabilities PROPERTIES
  LABELS "helper;live" SKIP_RETURN_CODE 77 TIMEOUT 300)

# The Linux layer with a real helper: started once, restarted once, then the own scan.
kestrel_add_helper_gtest(helper_client_test HelperClientTest.cpp kestrel_os threads)

# The real window as an ordinary user with the helper (needs root and Xvfb; skipped otherwise).
find_program(KESTREL_XVFB Xvfb)
find_program(KESTREL_XDOTOOL xdotool)
find_program(KESTREL_IMPORT import)
if(TARGET kestrel AND KESTREL_XVFB AND KESTREL_XDOTOOL AND KESTREL_IMPORT)
  add_test(NAME helper.WindowAsUser
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/helper_window_test.sh $<TARGET_FILE:kestrel>
            $<TARGET_FILE:kestrel-helper> ${CMAKE_CURRENT_BINARY_DIR}/artifacts)
  set_tests_properties(helper.WindowAsUser PROPERTIES
    LABELS "helper;xvfb" SKIP_RETURN_CODE 77 TIMEOUT 300)
endif()

# The Win32 layer against the real system (under Wine on Linux).
if(WIN32)
  # The emulator wrapper creates the Wine prefix on first use (about 20 s, bounded in time).
  # Done here at configure time, so that listing the tests at build time, which has a
  # one-minute limit per program, never includes it.
  if(CMAKE_CROSSCOMPILING_EMULATOR)
    execute_process(COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} cmd.exe /c exit 0
                    TIMEOUT 400 RESULT_VARIABLE kestrel_wine_result OUTPUT_QUIET ERROR_QUIET)
    if(NOT kestrel_wine_result EQUAL 0)
      message(WARNING "Wine could not run cmd.exe (${kestrel_wine_result}): the tests will fail")
    endif()
    # This checks that Wine's own programs run.
    add_test(NAME windows.wine_runs COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} cmd.exe /c exit 0)
    set_tests_properties(windows.wine_runs PROPERTIES TIMEOUT 400 LABELS windows)
  endif()

  kestrel_add_gtest(windows_layer_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/WindowsLayerTest.cpp
    LIBS kestrel_snapshot kestrel_os
    LABELS windows)
  target_link_libraries(windows_layer_test PRIVATE ws2_32 kestrel_windows_api)
endif()

# The command-line program built for Windows, run as a user would.
if(WIN32 AND TARGET kestrel-snapshot)
  kestrel_add_gtest(windows_snapshot_program_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/SnapshotProgramTest.cpp
    LABELS windows)
  add_dependencies(windows_snapshot_program_test kestrel-snapshot)
  target_link_libraries(windows_snapshot_program_test PRIVATE ws2_32 kestrel_windows_api)
  target_compile_definitions(windows_snapshot_program_test PRIVATE
    KESTREL_SNAPSHOT_EXE="$<TARGET_FILE:kestrel-snapshot>")
endif()

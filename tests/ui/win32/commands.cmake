# The connection commands in Win32 (context menu, shell, clipboard, details dialog, help file)
# under Wine's null display driver.
if(WIN32 AND TARGET kestrel_ui_win32)
  kestrel_add_gtest(win32_commands_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/Win32CommandsTest.cpp
    LIBS kestrel_ui_win32 kestrel_ui kestrel_list kestrel_snapshot kestrel_os
    LABELS windows)
  kestrel_add_gtest(win32_proc_info_dialog_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/Win32ProcInfoDialogTest.cpp
    LIBS kestrel_ui_win32 kestrel_ui kestrel_list kestrel_snapshot kestrel_os
    LABELS windows)
endif()

# The compiled help next to kestrel.exe: a CHM file (signature "ITSF") holding the page.
if(WIN32 AND TARGET kestrel AND KESTREL_CHMCMD)
  add_test(NAME windows.HelpCompiledNextToKestrel
    COMMAND bash -c [=[head -c 4 "$1" | grep -qx ITSF && grep -aq /KestrelHelp.html "$1"]=] help
            $<TARGET_FILE_DIR:kestrel>/KestrelHelp.chm)
  set_tests_properties(windows.HelpCompiledNextToKestrel PROPERTIES LABELS windows TIMEOUT 30)
endif()

include(${PROJECT_SOURCE_DIR}/tests/app/windows/wine.cmake)

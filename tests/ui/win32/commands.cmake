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

# The main window, its components and kestrel.exe's window under Wine's null display driver.
if(WIN32 AND TARGET kestrel_ui_win32)
  kestrel_add_gtest(win32_components_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/Win32ComponentsTest.cpp
    LIBS kestrel_ui_win32 kestrel_ui kestrel_list kestrel_snapshot kestrel_os
    LABELS windows)
  kestrel_add_gtest(win32_main_window_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/Win32MainWindowTest.cpp
    LIBS kestrel_ui_win32 kestrel_ui kestrel_list kestrel_snapshot kestrel_os
    LABELS windows)
endif()

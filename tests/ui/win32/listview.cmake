# The connection list's ListView and the icon cache's image lists, under Wine's null display.
if(WIN32 AND TARGET kestrel_ui_win32)
  kestrel_add_gtest(win32_listview_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/Win32ListViewTest.cpp
    LIBS kestrel_ui_win32 kestrel_ui kestrel_list kestrel_snapshot kestrel_os
    LABELS windows)
  kestrel_add_gtest(win32_imagelist_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/Win32ImageListTest.cpp
    LIBS kestrel_ui_win32 kestrel_ui kestrel_list kestrel_snapshot kestrel_os
    LABELS windows)
endif()

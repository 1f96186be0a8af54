# The connection list's ListView and the icon cache's image lists, under Wine's null display.
# Both tests carry the manifest that asks for the common controls of version 6, as the program's.
if(WIN32 AND TARGET kestrel_ui_win32)
  enable_language(RC)
  kestrel_add_gtest(win32_listview_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/Win32ListViewTest.cpp
            ${CMAKE_CURRENT_LIST_DIR}/Win32ListViewTest.rc
    LIBS kestrel_ui_win32 kestrel_ui kestrel_list kestrel_snapshot kestrel_os
    LABELS windows)
  kestrel_add_gtest(win32_imagelist_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/Win32ImageListTest.cpp
            ${CMAKE_CURRENT_LIST_DIR}/Win32ListViewTest.rc
    LIBS kestrel_ui_win32 kestrel_ui kestrel_list kestrel_snapshot kestrel_os
    LABELS windows)
  set_property(SOURCE ${CMAKE_CURRENT_LIST_DIR}/Win32ListViewTest.rc APPEND PROPERTY
    OBJECT_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/Win32ListViewTest.manifest)
endif()

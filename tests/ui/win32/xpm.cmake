if(WIN32 AND TARGET kestrel_ui_win32)
  kestrel_add_gtest(win32_xpm_picture_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/XpmPictureTest.cpp
    LIBS kestrel_ui_win32
    LABELS windows)
endif()

# The icon cache's Qt part with the installed icon theme, on the offscreen platform.
find_package(Qt6 REQUIRED COMPONENTS Gui)
kestrel_add_gtest(qt_system_image_list_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/QtSystemImageListTest.cpp
          ${PROJECT_SOURCE_DIR}/src/ui/qt/QtSystemImageList.cpp
          ${PROJECT_SOURCE_DIR}/src/list/ImageListEx.cpp
  LIBS kestrel_os Qt6::Gui
  LABELS qt)

# The choice of the Qt platform on a Wayland session.
kestrel_add_gtest(qt_platform_choice_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/QtPlatformChoiceTest.cpp
  LIBS kestrel_ui_qt
  LABELS qt)

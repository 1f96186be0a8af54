kestrel_add_gtest(process_control_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/ProcessControlTest.cpp
  LIBS kestrel_snapshot kestrel_os LABELS linux)

# The connection list over the real snapshot with thousands of live loopback connections.
# Linux only: its connection holders are forked children with raised descriptor limits.
if(NOT WIN32)
  kestrel_add_gtest(list_scale_live_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/ScaleLiveTest.cpp
    LIBS kestrel_list kestrel_snapshot kestrel_os
    LABELS scale live)
endif()

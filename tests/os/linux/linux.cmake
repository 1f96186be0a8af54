kestrel_add_gtest(linux_parsers_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/ParsersTest.cpp
  LIBS kestrel_os
  LABELS linux)
kestrel_add_gtest(linux_endpoints_live_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/LiveEndpointsTest.cpp
  LIBS kestrel_snapshot kestrel_os
  LABELS live threads)
kestrel_add_gtest(linux_processes_live_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/LiveProcessesTest.cpp
  LIBS kestrel_snapshot kestrel_os
  LABELS live threads)

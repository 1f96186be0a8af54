# Reading version resources from real files.
kestrel_add_gtest(load_version_resource_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_LoadVersionResource.cpp
  LIBS kestrel_snapshot kestrel_os kestrel_pe_builder
  LABELS linux)

# The icon cache's bookkeeping (TImageListEx). It depends on nothing else of the list layer, so
# the test compiles it alone.
kestrel_add_gtest(image_list_ex_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/ImageListExTest.cpp ${PROJECT_SOURCE_DIR}/src/list/ImageListEx.cpp
  LABELS list)

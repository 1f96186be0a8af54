kestrel_add_gtest(app_snapshot_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/KestrelSnapshotTest.cpp
  LABELS live)
add_dependencies(app_snapshot_test kestrel-snapshot)
target_compile_definitions(app_snapshot_test
  PRIVATE KESTREL_SNAPSHOT_PATH="$<TARGET_FILE:kestrel-snapshot>")

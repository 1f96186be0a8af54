# The socket load for measuring snapshots (compare_snapshot.sh), and the snapshot benchmarks.
add_executable(kestrel-socket-load ${CMAKE_CURRENT_LIST_DIR}/SocketLoad.cpp)
target_link_libraries(kestrel-socket-load PRIVATE kestrel_warnings)

add_executable(snapshot_live_bench ${CMAKE_CURRENT_LIST_DIR}/SnapshotLiveBench.cpp)
target_link_libraries(snapshot_live_bench PRIVATE kestrel_os kestrel_warnings benchmark::benchmark)

if(TARGET kestrel_os_fake)
  add_executable(snapshot_decode_bench ${CMAKE_CURRENT_LIST_DIR}/SnapshotDecodeBench.cpp)
  target_link_libraries(snapshot_decode_bench
    PRIVATE kestrel_snapshot kestrel_os_fake kestrel_warnings benchmark::benchmark)
endif()

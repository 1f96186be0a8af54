# Describing executables and naming their icons, cold and warm.
add_executable(icons_bench ${CMAKE_CURRENT_LIST_DIR}/IconsBench.cpp)
target_link_libraries(icons_bench PRIVATE kestrel_os benchmark::benchmark kestrel_warnings)

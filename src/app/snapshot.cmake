add_executable(kestrel-snapshot ${CMAKE_CURRENT_LIST_DIR}/KestrelSnapshot.cpp)
target_link_libraries(kestrel-snapshot PRIVATE kestrel_snapshot kestrel_os kestrel_warnings)
install(TARGETS kestrel-snapshot RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The protocol: no dependency, so that the helper, the Linux layer and the fuzzer share it.
add_library(kestrel_helper_protocol STATIC ${CMAKE_CURRENT_LIST_DIR}/HelperProtocol.cpp)
target_include_directories(kestrel_helper_protocol PUBLIC ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(kestrel_helper_protocol PRIVATE kestrel_warnings)

add_library(kestrel_helper_core STATIC ${CMAKE_CURRENT_LIST_DIR}/HelperPolicy.cpp
                                       ${CMAKE_CURRENT_LIST_DIR}/HelperScan.cpp)
target_link_libraries(kestrel_helper_core PUBLIC kestrel_helper_protocol kestrel_os
                                          PRIVATE kestrel_warnings)

add_executable(kestrel-helper ${CMAKE_CURRENT_LIST_DIR}/KestrelHelper.cpp)
target_link_libraries(kestrel-helper PRIVATE kestrel_helper_core kestrel_warnings)
# Next to kestrel and kestrel-snapshot in the build tree, where they look for it first.
set_target_properties(kestrel-helper PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/src/app)
install(TARGETS kestrel-helper RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/kestrel)

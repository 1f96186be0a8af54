# The fake os/ layer: every os:: function of the boundary headers, driven by FakeOs.h.
add_library(kestrel_os_fake STATIC ${CMAKE_CURRENT_LIST_DIR}/FakeOs.cpp)
target_include_directories(kestrel_os_fake PUBLIC ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
target_link_libraries(kestrel_os_fake PUBLIC kestrel_os_headers PRIVATE kestrel_warnings)

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

# Run as root, `cmake --install` gives it its capabilities (and, with a group, mode 0750 and
# that group); run as another user, it says how to grant them.
option(KESTREL_HELPER_CAPS "Give the installed kestrel-helper its two capabilities" ON)
set(KESTREL_HELPER_GROUP "" CACHE STRING
    "The group whose members may run kestrel-helper (mode 0750); empty: every user")
find_program(KESTREL_SETCAP setcap PATHS /usr/sbin /sbin)
install(CODE "
  set(kestrel_helper_caps ${KESTREL_HELPER_CAPS})
  set(kestrel_helper_group \"${KESTREL_HELPER_GROUP}\")
  set(kestrel_setcap \"${KESTREL_SETCAP}\")
  set(kestrel_helper_file
      \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBEXECDIR}/kestrel/kestrel-helper\")
  include(\"${CMAKE_CURRENT_LIST_DIR}/InstallHelperRights.cmake\")")

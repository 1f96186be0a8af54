# Each area of a folder keeps its targets in a <area>.cmake file of its own; the folder's
# CMakeLists.txt includes them all, in name order.
macro(kestrel_include_parts)
  file(GLOB _kestrel_parts CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/*.cmake")
  list(SORT _kestrel_parts)
  foreach(_part IN LISTS _kestrel_parts)
    include(${_part})
  endforeach()
endmacro()

# A static library of every .cpp file in the given folders, or an interface library while
# there is none yet.
function(kestrel_glob_library name)
  cmake_parse_arguments(ARG "" "" "DIRS;LINKS" ${ARGN})
  set(sources "")
  foreach(dir IN LISTS ARG_DIRS)
    file(GLOB found CONFIGURE_DEPENDS "${dir}/*.cpp")
    list(APPEND sources ${found})
  endforeach()
  if(sources)
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} PUBLIC ${ARG_LINKS} PRIVATE kestrel_warnings)
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} INTERFACE ${ARG_LINKS})
  endif()
endfunction()

# kestrel_library(<name> SOURCES <files...> LINKS <targets...>): a static library of the
# listed sources, with src/ as its include folder; LINKS are public.
function(kestrel_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LINKS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${ARG_LINKS} PRIVATE kestrel_warnings)
endfunction()

# The help file: installed into the data folder, and copied next to the `kestrel` executable in
# the build tree so that a program started from the build tree finds it too.
install(FILES ${PROJECT_SOURCE_DIR}/docs/help/KestrelHelp.html
  DESTINATION ${CMAKE_INSTALL_DATADIR}/kestrel)

# The window's target is defined after this file is read, so the copy is attached at the end.
function(kestrel_attach_help)
  if(NOT TARGET kestrel)
    return()
  endif()
  get_target_property(exe_dir kestrel RUNTIME_OUTPUT_DIRECTORY)
  if(NOT exe_dir)
    get_target_property(exe_dir kestrel BINARY_DIR)
  endif()
  set(source ${PROJECT_SOURCE_DIR}/docs/help/KestrelHelp.html)
  add_custom_command(
    OUTPUT ${exe_dir}/KestrelHelp.html
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${source} ${exe_dir}/KestrelHelp.html
    DEPENDS ${source}
    COMMENT "Copying KestrelHelp.html next to kestrel"
    VERBATIM)
  add_custom_target(kestrel_help ALL DEPENDS ${exe_dir}/KestrelHelp.html)
  add_dependencies(kestrel kestrel_help)
endfunction()
cmake_language(DEFER DIRECTORY ${PROJECT_SOURCE_DIR} CALL kestrel_attach_help)

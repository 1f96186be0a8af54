# The help file. Linux: KestrelHelp.html, installed into the data folder and copied next to the
# `kestrel` executable in the build tree so that a program started there finds it too.
# Windows: KestrelHelp.chm next to kestrel.exe, compiled from the same HTML with chmcmd
# (Debian's fp-utils); without chmcmd, or when it fails, the HTML file goes there instead.
#
# Run as a script (cmake -P) this file is the build step that makes the Windows help.
if(CMAKE_SCRIPT_MODE_FILE)
  # In: KESTREL_CHMCMD (may be empty), KESTREL_HELP_SOURCE, KESTREL_HELP_WORK, KESTREL_HELP_OUT.
  file(REMOVE_RECURSE ${KESTREL_HELP_WORK})
  file(MAKE_DIRECTORY ${KESTREL_HELP_WORK})
  file(COPY ${KESTREL_HELP_SOURCE} DESTINATION ${KESTREL_HELP_WORK})
  # The Chinese titles stay in the page: a project's and a contents file's texts are read in
  # the help's own code page, so they are kept ASCII here.
  file(WRITE ${KESTREL_HELP_WORK}/KestrelHelp.hhp
    "[OPTIONS]\n"
    "Compatibility=1.1 or later\n"
    "Compiled file=KestrelHelp.chm\n"
    "Contents file=KestrelHelp.hhc\n"
    "Default topic=KestrelHelp.html\n"
    "Display compile progress=No\n"
    "Language=0x804 Chinese (PRC)\n"
    "Title=Kestrel\n"
    "\n"
    "[FILES]\n"
    "KestrelHelp.html\n")
  file(WRITE ${KESTREL_HELP_WORK}/KestrelHelp.hhc
    "<!DOCTYPE HTML PUBLIC \"-//IETF//DTD HTML//EN\">\n"
    "<HTML><BODY><UL>\n"
    "<LI><OBJECT type=\"text/sitemap\"><param name=\"Name\" value=\"Kestrel\">"
    "<param name=\"Local\" value=\"KestrelHelp.html\"></OBJECT>\n"
    "</UL></BODY></HTML>\n")
  set(compiled FALSE)
  if(KESTREL_CHMCMD)
    execute_process(COMMAND ${KESTREL_CHMCMD} KestrelHelp.hhp
      WORKING_DIRECTORY ${KESTREL_HELP_WORK}
      RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output TIMEOUT 120)
    if(result EQUAL 0 AND EXISTS ${KESTREL_HELP_WORK}/KestrelHelp.chm)
      file(READ ${KESTREL_HELP_WORK}/KestrelHelp.chm signature LIMIT 4 HEX)
      if(signature STREQUAL "49545346") # "ITSF"
        set(compiled TRUE)
      endif()
    endif()
    if(NOT compiled)
      message(WARNING "chmcmd could not compile the help (${result}): ${output}"
                      "KestrelHelp.html goes next to kestrel.exe instead")
    endif()
  endif()
  # Only one of the two lies next to the program, so it never opens a stale one.
  if(compiled)
    file(COPY_FILE ${KESTREL_HELP_WORK}/KestrelHelp.chm ${KESTREL_HELP_OUT}/KestrelHelp.chm)
    file(REMOVE ${KESTREL_HELP_OUT}/KestrelHelp.html)
  else()
    file(COPY_FILE ${KESTREL_HELP_SOURCE} ${KESTREL_HELP_OUT}/KestrelHelp.html)
    file(REMOVE ${KESTREL_HELP_OUT}/KestrelHelp.chm)
  endif()
  file(TOUCH ${KESTREL_HELP_WORK}/made)
  return()
endif()

# Where the program looks for it (src/ui/HelpFile.cpp).
if(WIN32)
  set_property(SOURCE ${PROJECT_SOURCE_DIR}/src/ui/HelpFile.cpp APPEND PROPERTY
    COMPILE_DEFINITIONS "KESTREL_HELP_FILE_NAMES=\"KestrelHelp.chm\", \"KestrelHelp.html\""
                        "KESTREL_HELP_DATA_FOLDERS=0")
else()
  set_property(SOURCE ${PROJECT_SOURCE_DIR}/src/ui/HelpFile.cpp APPEND PROPERTY
    COMPILE_DEFINITIONS "KESTREL_HELP_FILE_NAMES=\"KestrelHelp.html\""
                        "KESTREL_HELP_DATA_FOLDERS=1")
  install(FILES ${PROJECT_SOURCE_DIR}/docs/help/KestrelHelp.html
    DESTINATION ${CMAKE_INSTALL_DATADIR}/kestrel)
endif()
if(WIN32)
  find_program(KESTREL_CHMCMD chmcmd)
  if(NOT KESTREL_CHMCMD)
    message(STATUS "chmcmd (fp-utils) not found: kestrel.exe gets KestrelHelp.html as its help")
  endif()
endif()

# Called once the window's target exists: the help goes next to it.
function(kestrel_attach_help)
  if(NOT TARGET kestrel)
    return()
  endif()
  get_target_property(exe_dir kestrel RUNTIME_OUTPUT_DIRECTORY)
  if(NOT exe_dir)
    get_target_property(exe_dir kestrel BINARY_DIR)
  endif()
  set(source ${PROJECT_SOURCE_DIR}/docs/help/KestrelHelp.html)
  if(WIN32)
    set(work ${CMAKE_BINARY_DIR}/docs/help)
    add_custom_command(
      OUTPUT ${work}/made
      COMMAND ${CMAKE_COMMAND} -DKESTREL_CHMCMD=${KESTREL_CHMCMD} -DKESTREL_HELP_SOURCE=${source}
              -DKESTREL_HELP_WORK=${work} -DKESTREL_HELP_OUT=${exe_dir}
              -P ${PROJECT_SOURCE_DIR}/docs/help/help.cmake
      DEPENDS ${source} ${PROJECT_SOURCE_DIR}/docs/help/help.cmake
      COMMENT "Compiling KestrelHelp.chm next to kestrel.exe"
      VERBATIM)
    add_custom_target(kestrel_help ALL DEPENDS ${work}/made)
    # An installation keeps the help next to the program, where it looks for it.
    install(FILES ${exe_dir}/KestrelHelp.chm ${exe_dir}/KestrelHelp.html OPTIONAL
      DESTINATION ${CMAKE_INSTALL_BINDIR})
  else()
    add_custom_command(
      OUTPUT ${exe_dir}/KestrelHelp.html
      COMMAND ${CMAKE_COMMAND} -E copy_if_different ${source} ${exe_dir}/KestrelHelp.html
      DEPENDS ${source}
      COMMENT "Copying KestrelHelp.html next to kestrel"
      VERBATIM)
    add_custom_target(kestrel_help ALL DEPENDS ${exe_dir}/KestrelHelp.html)
  endif()
  add_dependencies(kestrel kestrel_help)
endfunction()

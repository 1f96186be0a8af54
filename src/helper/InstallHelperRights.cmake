# Included by `cmake --install` after kestrel-helper is copied, with kestrel_helper_file,
# kestrel_helper_caps, kestrel_helper_group and kestrel_setcap set.
set(caps "cap_dac_read_search,cap_net_admin,cap_sys_ptrace=ep")
if(NOT "$ENV{DESTDIR}" STREQUAL "")
  return() # staged for a package, whose own install script sets them
endif()
if(NOT kestrel_setcap)
  set(kestrel_setcap setcap)
endif()

# The commands that grant the rights, in this order: a change of group clears capabilities.
set(steps "")
if(kestrel_helper_group)
  list(APPEND steps "chgrp ${kestrel_helper_group} ${kestrel_helper_file}"
                    "chmod 0750 ${kestrel_helper_file}")
endif()
if(kestrel_helper_caps)
  list(APPEND steps "${kestrel_setcap} ${caps} ${kestrel_helper_file}")
endif()
if(NOT steps)
  return()
endif()

execute_process(COMMAND id -u OUTPUT_VARIABLE uid OUTPUT_STRIP_TRAILING_WHITESPACE)
if(uid STREQUAL "0")
  foreach(step IN LISTS steps)
    separate_arguments(argv UNIX_COMMAND "${step}")
    execute_process(COMMAND ${argv} RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
      message(WARNING "kestrel-helper: '${step}' failed; other users' sockets will show "
                      "without their owners")
      return()
    endif()
  endforeach()
  message(STATUS "kestrel-helper: given ${caps}")
else()
  list(LENGTH steps count)
  if(count EQUAL 1)
    set(command "sudo ${steps}")
  else()
    list(JOIN steps " && " joined)
    set(command "sudo sh -c '${joined}'")
  endif()
  message(STATUS "kestrel-helper was installed without its capabilities, so other users' "
                 "sockets will show without their owners. To grant them, run:\n  ${command}")
endif()

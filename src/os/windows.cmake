# The Win32 implementation of the OS boundary: the system libraries it calls.
if(WIN32)
  target_link_libraries(kestrel_os PUBLIC kestrel_win32 iphlpapi version advapi32 shell32)
endif()

# The Win32 implementation of the OS boundary: the system libraries it calls.
if(WIN32)
  target_compile_definitions(kestrel_os PRIVATE
    UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 WINVER=0x0601)
  target_link_libraries(kestrel_os PUBLIC iphlpapi version advapi32 shell32)
endif()

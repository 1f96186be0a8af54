# The program entry: the single-instance claim, and the real window under Xvfb.
kestrel_add_gtest(test_single_instance
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_SingleInstance.cpp
  LIBS kestrel_os
  LABELS app)

if(TARGET kestrel)
  find_program(KESTREL_XVFB Xvfb)
  find_program(KESTREL_XDOTOOL xdotool)
  find_program(KESTREL_IMPORT import)
  find_program(KESTREL_XCLIP xclip)
  find_program(KESTREL_OPENBOX openbox)
  find_program(KESTREL_XPROP xprop)
  if(KESTREL_XVFB AND KESTREL_XDOTOOL AND KESTREL_IMPORT AND KESTREL_XCLIP AND KESTREL_OPENBOX
     AND KESTREL_XPROP)
    # The screenshots are kept in the build tree as the test's artifacts.
    add_test(NAME app.KestrelUnderXvfb
      COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/kestrel_xvfb_test.sh $<TARGET_FILE:kestrel>
              ${CMAKE_CURRENT_BINARY_DIR}/artifacts)
    set_tests_properties(app.KestrelUnderXvfb PROPERTIES LABELS "app;xvfb" TIMEOUT 300)
  else()
    message(WARNING "Xvfb, xdotool, ImageMagick's import, xclip, openbox or xprop missing: "
                    "the test of the real window is not registered (scripts/setup.sh installs them)")
  endif()
  # On a Wayland session (weston, headless, with XWayland).
  find_program(KESTREL_WESTON weston)
  find_program(KESTREL_XWAYLAND Xwayland)
  if(KESTREL_WESTON AND KESTREL_XWAYLAND AND KESTREL_XDOTOOL AND KESTREL_XPROP AND KESTREL_IMPORT)
    add_test(NAME app.KestrelOnWayland
      COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/kestrel_wayland_test.sh $<TARGET_FILE:kestrel>
              ${CMAKE_CURRENT_BINARY_DIR}/artifacts-wayland)
    set_tests_properties(app.KestrelOnWayland PROPERTIES
      LABELS "app;xvfb" TIMEOUT 300 SKIP_RETURN_CODE 77)
  else()
    message(WARNING "weston, Xwayland, xdotool, xprop or ImageMagick's import missing: "
                    "the test on a Wayland session is not registered (scripts/setup.sh installs them)")
  endif()
endif()

# The shell requests reach the file manager over D-Bus. kestrel_ui_qt (qt.cmake, read after
# this file) takes QtShell.cpp from the folder, so it gets Qt6::DBus once it exists.
find_package(Qt6 REQUIRED COMPONENTS DBus)
cmake_language(DEFER CALL target_link_libraries kestrel_ui_qt PUBLIC Qt6::DBus)

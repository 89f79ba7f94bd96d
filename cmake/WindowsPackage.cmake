# portpanel-1.00-win64.zip / -win32.zip: the exes (the window, the pins window and the
# command line), README.txt, the license, and the four manuals as text in manuals\, where
# the exes' --help points.
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  set(PORTPANEL_WIN_SUFFIX win64)
else()
  set(PORTPANEL_WIN_SUFFIX win32)
endif()
target_link_options(portpanel PRIVATE $<$<CONFIG:Release>:-s>)
install(TARGETS portpanel RUNTIME DESTINATION .)
foreach(program portpanel-io portpanel-pins)
  if(TARGET ${program})
    target_link_options(${program} PRIVATE $<$<CONFIG:Release>:-s>)
    install(TARGETS ${program} RUNTIME DESTINATION .)
  endif()
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/packaging/windows/README.txt DESTINATION .)
# The manual pages as plain text with Windows line ends, which Windows 7's Notepad needs.
# They name the Debian package's paths where they speak of Linux.
set(PORTPANEL_LIBRARY_PATH /usr/lib/x86_64-linux-gnu/libinpout32.so)
set(PORTPANEL_HELPER_PATH /usr/libexec/portpanel/portpanel-helper)
set(PORTPANEL_POLICY_PATH /etc/portpanel/ports)
set(manuals)
foreach(page portpanel portpanel-io portpanel-pins portpanel-run)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/${page}.1.in ${CMAKE_BINARY_DIR}/manuals/${page}.1
                 @ONLY)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/manuals/${page}.txt
    COMMAND sh -c "groff -k -man -Tascii -P-cbou -rLL=78n ${page}.1 | sed 's/$/\\r/' > ${page}.txt"
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/manuals
    DEPENDS ${CMAKE_BINARY_DIR}/manuals/${page}.1 VERBATIM)
  list(APPEND manuals ${CMAKE_BINARY_DIR}/manuals/${page}.txt)
endforeach()
add_custom_target(manuals ALL DEPENDS ${manuals})
# The zip holds them: a build of the exe alone, as the scripts that make the
# zip run it, makes them too.
add_dependencies(portpanel manuals)
install(FILES ${manuals} DESTINATION manuals)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright DESTINATION . RENAME LICENSE.txt)
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME portpanel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME portpanel-${PROJECT_VERSION}-${PORTPANEL_WIN_SUFFIX})
# One folder in the zip, so that "Extract here" does not scatter the files.
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/SameBytes.cmake)
include(CPack)

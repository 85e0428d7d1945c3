# cmake --install: the program and lumora-image in bin/, skins and help in
# share/lumora2003/ (the program finds them from bin/../share/lumora2003), the desktop entry,
# its icon and the AppStream metadata where desktops look for them, the manual pages in
# share/man/man1.
include(GNUInstallDirs)

foreach(program lumora2003 lumora-image)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()

set(_data ${PROJECT_SOURCE_DIR}/resources)
install(DIRECTORY ${_data}/skins/ DESTINATION ${CMAKE_INSTALL_DATADIR}/lumora2003/skins
        FILES_MATCHING PATTERN "*.skn")
install(FILES ${_data}/hlp/hlp.htm DESTINATION ${CMAKE_INSTALL_DATADIR}/lumora2003/hlp)
install(FILES ${_data}/linux/lumora2003.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${_data}/linux/lumora2003.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
# The metadata's release is the project's version.
file(READ ${_data}/linux/org.lumora2003.lumora2003.metainfo.xml _metainfo)
string(REGEX REPLACE "<release version=\"[^\"]*\"" "<release version=\"${PROJECT_VERSION}\""
       _metainfo "${_metainfo}")
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/share/org.lumora2003.lumora2003.metainfo.xml
     CONTENT "${_metainfo}" @ONLY)
set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${_data}/linux/org.lumora2003.lumora2003.metainfo.xml)
install(FILES ${CMAKE_BINARY_DIR}/share/org.lumora2003.lumora2003.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# Manual pages: roff sources in resources/man with the version filled in, compressed as
# Debian keeps them (man reads them so anywhere).
foreach(_page lumora2003.1 lumora-image.1)
  configure_file(${_data}/man/${_page} ${CMAKE_BINARY_DIR}/share/man/${_page} @ONLY)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/share/man/${_page}.gz
                     COMMAND gzip -9n -c ${_page} > ${_page}.gz
                     DEPENDS ${CMAKE_BINARY_DIR}/share/man/${_page}
                     WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/share/man)
  list(APPEND _man_pages ${CMAKE_BINARY_DIR}/share/man/${_page}.gz)
endforeach()
add_custom_target(man_pages ALL DEPENDS ${_man_pages})
install(FILES ${_man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

include(${CMAKE_CURRENT_LIST_DIR}/package.cmake)

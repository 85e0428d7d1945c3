# cmake --install: the program and lumora-image in bin/, skins and help in
# share/lumora2003/ (the program finds them from bin/../share/lumora2003), the desktop entry,
# its icon and the AppStream metadata where desktops look for them.
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
install(FILES ${_data}/linux/org.lumora2003.lumora2003.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# The Debian package (cpack -G DEB, run by scripts/package): lumora2003_VERSION_ARCH.deb with
# what cmake --install installs under /usr, the copyright and changelog Debian asks for, and
# dependencies from the binaries (dpkg-shlibdeps) plus what the program loads at run time.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lumora2003)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "lumora2003 developers <dev@lumora.invalid>"
    CACHE STRING "Maintainer field of the Debian package")
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "video capture and snapshot program")
# The extended description; CPack puts the summary above it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "lumora2003 lists the cameras and capture cards of the computer, shows a live
preview, captures video to AVI files and grabs still frames into a snapshot
window, saved as BMP, JPEG, PNG, TIFF, TGA, PCX or GIF through its own image
library. Captured files play back in a window of their own. The interface
speaks Chinese and English and wears one of six skins.
.
The package also holds lumora-image, the image library on the command line.")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded at run time, so dpkg-shlibdeps cannot see them: Qt's X11 platform plugin and the
# GStreamer elements of preview, capture, snapshots and playback (videotestsrc, decodebin,
# playbin, appsink from base; avimux, jpegenc, videobalance, v4l2src, avidemux from good).
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "qt6-qpa-plugins, gstreamer1.0-plugins-base, gstreamer1.0-plugins-good")
# Playback of clips other than the program's own captures, the Chinese interface's font,
# Help > Content's browser.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "gstreamer1.0-libav, fonts-wqy-microhei, xdg-utils")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# /usr/share/doc/lumora2003: copyright and changelog.gz.
string(TIMESTAMP LUMORA_CHANGELOG_DATE "%a, %d %b %Y 00:00:00 +0000" UTC)
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/changelog.in
               ${CMAKE_BINARY_DIR}/share/doc/changelog @ONLY)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/share/doc/changelog.gz
                   COMMAND gzip -9n -c changelog > changelog.gz
                   DEPENDS ${CMAKE_BINARY_DIR}/share/doc/changelog
                   WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/share/doc)
add_custom_target(package_docs ALL DEPENDS ${CMAKE_BINARY_DIR}/share/doc/changelog.gz)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/copyright
              ${CMAKE_BINARY_DIR}/share/doc/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

include(CPack)

# Third-party libraries, found once for every target.
find_package(PkgConfig REQUIRED)
find_package(JPEG REQUIRED)
find_package(PNG REQUIRED)
find_package(TIFF REQUIRED)
find_package(ZLIB REQUIRED)
# Rasteriser of the metafile player.
pkg_check_modules(CAIRO REQUIRED IMPORTED_TARGET cairo)

find_package(Qt6 QUIET COMPONENTS Widgets)
pkg_check_modules(GST IMPORTED_TARGET
  gstreamer-1.0 gstreamer-app-1.0 gstreamer-video-1.0 gstreamer-pbutils-1.0)

if(LUMORA_TESTS)
  find_package(GTest REQUIRED)
  include(GoogleTest)
endif()
if(LUMORA_BENCH)
  find_package(benchmark REQUIRED)
endif()

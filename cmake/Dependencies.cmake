# Every external library comes from Debian's archive; scripts/setup installs them.
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)

macro(marrowfin_require_pkg target module debian)
  pkg_check_modules(${target} REQUIRED IMPORTED_TARGET ${module})
  if(NOT ${target}_FOUND)
    message(FATAL_ERROR "${module} not found: install the Debian package ${debian} (scripts/setup does)")
  endif()
endmacro()

marrowfin_require_pkg(PLIST libplist-2.0 libplist-dev)
marrowfin_require_pkg(LUA lua5.1 liblua5.1-0-dev)
marrowfin_require_pkg(AVAHI avahi-client libavahi-client-dev)
marrowfin_require_pkg(SNDFILE sndfile libsndfile1-dev)
marrowfin_require_pkg(SMF smf libsmf-dev)
marrowfin_require_pkg(LV2 lv2 lv2-dev)

find_path(OSCPACK_INCLUDE_DIR oscpack/osc/OscPacketListener.h)
find_library(OSCPACK_LIBRARY oscpack)
if(NOT OSCPACK_INCLUDE_DIR OR NOT OSCPACK_LIBRARY)
  message(FATAL_ERROR "oscpack not found: install the Debian package liboscpack-dev (scripts/setup does)")
endif()
add_library(oscpack::oscpack UNKNOWN IMPORTED)
set_target_properties(oscpack::oscpack PROPERTIES
  IMPORTED_LOCATION ${OSCPACK_LIBRARY}
  INTERFACE_INCLUDE_DIRECTORIES ${OSCPACK_INCLUDE_DIR})

find_path(CLI11_INCLUDE_DIR CLI/CLI.hpp)
if(NOT CLI11_INCLUDE_DIR)
  message(FATAL_ERROR "CLI11 not found: install the Debian package libcli11-dev (scripts/setup does)")
endif()

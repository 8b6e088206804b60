# Debian packages, made by CPack from the install components (scripts/package runs it):
#   liborbel-sdk2      the runtime library (Debian names a library's package by its SONAME)
#   liborbel-sdk-dev   headers, CMake package, pkg-config file, link-time .so, the emulator
#                      and its manual page
#   orbelstudio        the program, its desktop entry, AppStream entry, icons and manual page
# The SDK's two packages carry the SDK's version, the program's its own; so CPack runs once
# per set (ORBEL_PACKAGE_SET=sdk, then studio: cmake/OrbelCPackProject.cmake picks the set).
# Runtime dependencies are computed from the binaries by dpkg-shlibdeps; the library package
# states what it provides (its shlibs file), from which the program's dependency on it is
# computed in the same way. Each package carries its copyright file and changelog, installed
# by `cmake --install` as well; lintian (tests/install/run) holds them to Debian's rules.
set(ORBEL_PACKAGE_MAINTAINER "Velmorant Orbel developers <orbel@velmorant.invalid>")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orbel)
set(CPACK_PACKAGE_VENDOR Velmorant)
set(CPACK_PACKAGE_CONTACT "${ORBEL_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_VERSION ${ORBEL_SDK_VERSION})
set(CPACK_STUDIO_VERSION ${PROJECT_VERSION})
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/OrbelCPackProject.cmake)
set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/OrbelCPackPostBuild.cmake)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)

# Descriptions: a summary line, then lines of at most 79 characters (dpkg indents them by one).
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME liborbel-sdk2)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/cmake/debian/triggers)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION "Orbel lidar SDK: runtime library
Orbel_SDK connects to the Orbel solid-state lidar over TCP, runs its state
machine and commands, and delivers its point clouds to the caller; it also
drives a GigE Vision colour camera beside the sensor and colours the point
clouds from its images.")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME liborbel-sdk-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_DEVELOPMENT_DEPENDS runtime)
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION "Orbel lidar SDK: development files and sensor emulator
The public headers of Orbel_SDK, its CMake package (find_package(Orbel_SDK))
and its pkg-config file (orbel-sdk), and orbel-sensor-emulator, a stand-in
sensor on loopback to develop and test against without a sensor.")

set(CPACK_DEBIAN_STUDIO_PACKAGE_NAME orbelstudio)
set(CPACK_DEBIAN_STUDIO_PACKAGE_SECTION science)
set(CPACK_COMPONENT_STUDIO_DESCRIPTION "Orbel Studio: desktop program for the Orbel lidar
Connects to the Orbel lidar and its colour camera, shows the point clouds live
in 3D and 2D views, records and replays sessions, converts frames to PLY, CSV
and PCD and colorizes recorded sessions.")

orbel_install_package_docs(liborbel-sdk2 ${ORBEL_SDK_VERSION} COMPONENT runtime
  ENTRY "Orbel_SDK ${ORBEL_SDK_VERSION}, the Orbel lidar SDK's runtime library.")
orbel_install_package_docs(liborbel-sdk-dev ${ORBEL_SDK_VERSION} COMPONENT development
  ENTRY "Orbel_SDK ${ORBEL_SDK_VERSION}: development files and orbel-sensor-emulator.")
if(TARGET orbelstudio)
  orbel_install_package_docs(orbelstudio ${PROJECT_VERSION} COMPONENT studio
    ENTRY "Orbel Studio ${PROJECT_VERSION}.")
endif()

include(CPack)

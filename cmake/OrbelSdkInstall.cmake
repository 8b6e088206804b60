# What `cmake --install` puts in place for the SDK's users, from the component of the
# Debian package each part belongs to:
#   runtime      the shared library with its version (libOrbel_SDK.so.2 -> .so.2.2.1)
#   development  the public headers (sdk/include only: nothing of sdk/src), the link-time
#                libOrbel_SDK.so, the CMake package Orbel_SDK and the pkg-config file orbel-sdk
# Both packages are relocatable: they find the prefix from their own place at use time.
include(CMakePackageConfigHelpers)

set(ORBEL_SDK_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Orbel_SDK)
set(ORBEL_SDK_PKGCONFIG_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

install(TARGETS Orbel_SDK EXPORT Orbel_SDKTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT development)
install(DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/include/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
  COMPONENT development FILES_MATCHING PATTERN "*.h")

install(EXPORT Orbel_SDKTargets NAMESPACE Orbel_SDK:: DESTINATION ${ORBEL_SDK_CMAKE_DIR} COMPONENT development)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/Orbel_SDKConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/Orbel_SDKConfig.cmake
  INSTALL_DESTINATION ${ORBEL_SDK_CMAKE_DIR})
# 2.x callers build against any 2.y with y at least theirs; 3.0 may break them.
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/Orbel_SDKConfigVersion.cmake
  VERSION ${ORBEL_SDK_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/Orbel_SDKConfig.cmake ${CMAKE_CURRENT_BINARY_DIR}/Orbel_SDKConfigVersion.cmake
  DESTINATION ${ORBEL_SDK_CMAKE_DIR} COMPONENT development)

# pkg-config finds the prefix from the file's own folder (${pcfiledir}), so the file holds
# no absolute path and works wherever the tree is unpacked.
file(RELATIVE_PATH ORBEL_SDK_PC_TO_PREFIX
  ${CMAKE_INSTALL_PREFIX}/${ORBEL_SDK_PKGCONFIG_DIR} ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" ORBEL_SDK_PC_TO_PREFIX "${ORBEL_SDK_PC_TO_PREFIX}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/orbel-sdk.pc.in ${CMAKE_CURRENT_BINARY_DIR}/orbel-sdk.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/orbel-sdk.pc DESTINATION ${ORBEL_SDK_PKGCONFIG_DIR} COMPONENT development)

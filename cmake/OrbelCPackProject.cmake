# Read by cpack before it packages: ORBEL_PACKAGE_SET picks the packages of one run.
#   sdk      liborbel-sdk2 and liborbel-sdk-dev, at the SDK's version (the default)
#   studio   orbelstudio, at the program's version; ORBEL_SDK_PACKAGE_ROOT names the library
#            package unpacked with its control files (dpkg-deb -R), where dpkg-shlibdeps
#            finds libOrbel_SDK.so.2 and the package that provides it
if("$ENV{ORBEL_PACKAGE_SET}" STREQUAL "studio")
  set(CPACK_COMPONENTS_ALL studio)
  set(CPACK_PACKAGE_VERSION ${CPACK_STUDIO_VERSION})
  if(NOT "$ENV{ORBEL_SDK_PACKAGE_ROOT}" STREQUAL "")
    file(GLOB_RECURSE _orbel_sdk_library "$ENV{ORBEL_SDK_PACKAGE_ROOT}/*/libOrbel_SDK.so.*")
    list(GET _orbel_sdk_library 0 _orbel_sdk_library)
    get_filename_component(_orbel_sdk_library_dir "${_orbel_sdk_library}" DIRECTORY)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS "${_orbel_sdk_library_dir}")
  endif()
else()
  set(CPACK_COMPONENTS_ALL runtime development)
endif()

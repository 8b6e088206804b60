# Run by cpack after each run has made its packages (CPACK_POST_BUILD_SCRIPTS), with the
# package files in CPACK_PACKAGE_FILES.
# CPack gives a package with a library under /usr/lib a postinst and a postrm that only call
# ldconfig, and has no switch to leave them out. Debian declares the ldconfig trigger in their
# place (the library package's control file "triggers", cmake/debian/triggers), so the library
# package is unpacked with its control files, loses the two scripts and is packed again; its
# files and their checksums stay as CPack made them.
foreach(deb IN LISTS CPACK_PACKAGE_FILES)
  get_filename_component(name "${deb}" NAME)
  if(NOT name MATCHES "^${CPACK_DEBIAN_RUNTIME_PACKAGE_NAME}_.*\\.deb$")
    continue()
  endif()
  set(tree "${deb}.tree")
  file(REMOVE_RECURSE "${tree}")
  execute_process(COMMAND dpkg-deb --raw-extract "${deb}" "${tree}" COMMAND_ERROR_IS_FATAL ANY)
  if(NOT EXISTS "${tree}/DEBIAN/triggers")
    message(FATAL_ERROR "${name} declares no ldconfig trigger: its postinst and postrm stay needed")
  endif()
  file(REMOVE "${tree}/DEBIAN/postinst" "${tree}/DEBIAN/postrm")
  execute_process(COMMAND dpkg-deb --root-owner-group -Zgzip --build "${tree}" "${deb}"
    OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE "${tree}")
endforeach()

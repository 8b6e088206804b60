# The documents installed beside the binaries, in the forms Debian's tools expect:
#   orbel_install_man_page(<page.N> COMPONENT <component>)
#       a manual page, gzipped, into share/man/man<N>
#   orbel_install_package_docs(<package> <version> COMPONENT <component> ENTRY <text>)
#       share/doc/<package>/copyright (cmake/debian/copyright) and changelog.gz, one entry for
#       <version> dated ORBEL_RELEASE_RFC2822 and signed by ORBEL_PACKAGE_MAINTAINER
# Each file is compressed with `gzip -n -9` (no name or time inside, best compression), so
# two builds of one release make the same bytes. The target orbel_docs builds all of them
# (scripts/package names it, as it names the binaries).
find_program(ORBEL_GZIP gzip)
if(NOT ORBEL_GZIP)
  message(FATAL_ERROR "gzip not found: it compresses the manual pages and changelogs")
endif()
add_custom_target(orbel_docs ALL)

# orbel_gzip(<source> <output.gz> <target name>): builds <output.gz> as part of orbel_docs.
function(orbel_gzip source output target)
  add_custom_command(OUTPUT ${output}
    COMMAND sh -c "\"$0\" -n -9 -c \"$1\" > \"$2\"" ${ORBEL_GZIP} ${source} ${output}
    DEPENDS ${source}
    VERBATIM)
  add_custom_target(${target} DEPENDS ${output})
  add_dependencies(orbel_docs ${target})
endfunction()

function(orbel_install_man_page page)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "COMPONENT" "")
  get_filename_component(name ${page} NAME)
  if(NOT name MATCHES "\\.([1-9])$")
    message(FATAL_ERROR "${page}: a manual page's name ends in its section")
  endif()
  set(section ${CMAKE_MATCH_1})
  set(output ${CMAKE_CURRENT_BINARY_DIR}/man/${name}.gz)
  file(MAKE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/man)
  orbel_gzip(${page} ${output} man_${name})
  install(FILES ${output} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section} COMPONENT ${arg_COMPONENT})
endfunction()

function(orbel_install_package_docs package version)
  cmake_parse_arguments(PARSE_ARGV 2 arg "" "COMPONENT;ENTRY" "")
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/package-docs/${package})
  # Debian's changelog format: no room in it for a comment, so it is written from here.
  file(CONFIGURE OUTPUT ${dir}/changelog @ONLY CONTENT
"${package} (${version}) unstable; urgency=medium

  * ${arg_ENTRY}

 -- ${ORBEL_PACKAGE_MAINTAINER}  ${ORBEL_RELEASE_RFC2822}
")
  orbel_gzip(${dir}/changelog ${dir}/changelog.gz changelog_${package})
  install(FILES ${PROJECT_SOURCE_DIR}/cmake/debian/copyright ${dir}/changelog.gz
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${arg_COMPONENT})
endfunction()

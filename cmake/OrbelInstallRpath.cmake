# How an installed program finds the installed libOrbel_SDK.so.2, never the build tree
# (CMake drops the build folders' run path at install):
# - in a system library folder (a /usr prefix, the Debian packages): through the loader's
#   own search, with no run path at all;
# - in any other prefix: through a run path relative to the program ($ORIGIN/../lib), so
#   the installed tree may be moved as a whole.
# orbel_install_rpath(<target>) gives a program that links the SDK its installed run path.
file(RELATIVE_PATH ORBEL_BINDIR_TO_LIBDIR ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
set(ORBEL_INSTALL_RPATH "$ORIGIN/${ORBEL_BINDIR_TO_LIBDIR}")
if(CMAKE_INSTALL_FULL_LIBDIR IN_LIST CMAKE_PLATFORM_IMPLICIT_LINK_DIRECTORIES OR
   CMAKE_INSTALL_FULL_LIBDIR IN_LIST CMAKE_CXX_IMPLICIT_LINK_DIRECTORIES)
  set(ORBEL_INSTALL_RPATH "")
endif()

function(orbel_install_rpath target)
  set_target_properties(${target} PROPERTIES INSTALL_RPATH "${ORBEL_INSTALL_RPATH}")
endfunction()

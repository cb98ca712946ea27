# Run by CPack once it has written the .deb (CPACK_POST_BUILD_SCRIPTS).
#
# CPack gives every package with a library under /usr/lib a postinst and a
# postrm that call ldconfig. The package's ldconfig trigger does that work
# already, and a postrm costs more than the call: dpkg keeps it after
# `apt-get remove` (and the package in its records, half removed) until a
# purge runs it. So the two scripts are taken out and the package is
# packed again, its files and control fields unchanged.
find_program(VELMORA_DPKG_DEB dpkg-deb)
if(NOT VELMORA_DPKG_DEB)
  message(WARNING "dpkg-deb not found: the .deb keeps CPack's ldconfig scripts")
  return()
endif()
foreach(deb IN LISTS CPACK_PACKAGE_FILES)
  if(NOT deb MATCHES "\\.deb$")
    continue()
  endif()
  set(tree "${deb}.tree")
  file(REMOVE_RECURSE "${tree}")
  execute_process(COMMAND ${VELMORA_DPKG_DEB} --raw-extract "${deb}" "${tree}" RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "dpkg-deb could not unpack ${deb}")
  endif()
  file(REMOVE "${tree}/DEBIAN/postinst" "${tree}/DEBIAN/postrm")
  execute_process(COMMAND ${VELMORA_DPKG_DEB} --root-owner-group --build "${tree}" "${deb}"
                  OUTPUT_QUIET RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "dpkg-deb could not pack ${deb} again")
  endif()
  file(REMOVE_RECURSE "${tree}")
endforeach()

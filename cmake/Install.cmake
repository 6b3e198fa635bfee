# Installing: the program, the library and its header, the manual page and
# the bash completion (both made at build time from the option table), and
# a Debian package through CPack.
include(GNUInstallDirs)

add_executable(varn_docgen ${PROJECT_SOURCE_DIR}/tools/docgen/main.cpp)
target_link_libraries(varn_docgen PRIVATE varn_tessel_impl)
set(VARN_MAN_PAGE ${PROJECT_BINARY_DIR}/doc/varntessel.1)
set(VARN_COMPLETION ${PROJECT_BINARY_DIR}/doc/varntessel.bash)
add_custom_command(OUTPUT ${VARN_MAN_PAGE} ${VARN_COMPLETION}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/doc
  COMMAND varn_docgen ${VARN_MAN_PAGE} ${VARN_COMPLETION}
  DEPENDS varn_docgen
  COMMENT "Manual page and bash completion from the option table")
add_custom_target(varn_docs ALL DEPENDS ${VARN_MAN_PAGE} ${VARN_COMPLETION})

set_target_properties(varntessel PROPERTIES INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
install(TARGETS varntessel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS varn_tessel_core LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/varn_tessel.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${VARN_MAN_PAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${VARN_COMPLETION} DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions
  RENAME varntessel)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME varntessel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "VarnTessel developers <varntessel@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Super Audio CD disc image authoring from DSF and DSDIFF files")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
find_program(VARN_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(VARN_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1")
endif()
include(CPack)

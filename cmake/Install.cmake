# Installation and packages. `cmake --install` puts the program in bin/ and the example
# descriptions, their README and gallery in share/tendrilview/examples/; the Windows build
# puts tendrilview.exe and examples/ side by side instead, as a zip is unpacked.
# CPack: `cpack -G DEB` makes a Debian package whose Depends names the run-time
# libraries; on Windows `cpack` makes a zip.
include(GNUInstallDirs)

if(WIN32)
  set(tendrilview_bin_dir .)
  set(tendrilview_examples_dir examples)
else()
  set(tendrilview_bin_dir ${CMAKE_INSTALL_BINDIR})
  set(tendrilview_examples_dir ${CMAKE_INSTALL_DATADIR}/tendrilview/examples)
endif()
install(TARGETS tendrilview RUNTIME DESTINATION ${tendrilview_bin_dir})
file(GLOB tendrilview_examples ${PROJECT_SOURCE_DIR}/examples/*.lsys)
install(FILES ${tendrilview_examples} ${PROJECT_SOURCE_DIR}/examples/README.md
        DESTINATION ${tendrilview_examples_dir})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/gallery DESTINATION ${tendrilview_examples_dir})

# The licence and the user's documentation: on Windows the LICENSE and a plain-text
# README.txt beside the program; elsewhere the manual page and, as Debian lays them out,
# the copyright file and the changelog (both compressed as Debian wants them).
if(WIN32)
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION .)
  install(FILES ${PROJECT_SOURCE_DIR}/app/README-windows.txt DESTINATION . RENAME README.txt)
else()
  set(tendrilview_doc_dir ${CMAKE_INSTALL_DATADIR}/doc/tendrilview)
  foreach(page IN ITEMS tendrilview.1 cmake/debian/changelog)
    get_filename_component(name ${page} NAME)
    execute_process(COMMAND gzip -9n -c ${PROJECT_SOURCE_DIR}/${page}
                    OUTPUT_FILE ${PROJECT_BINARY_DIR}/${name}.gz COMMAND_ERROR_IS_FATAL ANY)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${page})
  endforeach()
  install(FILES ${PROJECT_BINARY_DIR}/tendrilview.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${PROJECT_SOURCE_DIR}/cmake/debian/copyright ${PROJECT_BINARY_DIR}/changelog.gz
          DESTINATION ${tendrilview_doc_dir})
endif()

if(NOT PROJECT_IS_TOP_LEVEL)
  return()
endif()
set(CPACK_PACKAGE_NAME tendrilview)
set(CPACK_PACKAGE_VENDOR "Tendrilview")
set(CPACK_PACKAGE_CONTACT "Tendrilview developers <maintainers@tendrilview.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "draws L-systems read from description files with OpenGL")
# Debian wants the lines of the long description under 80 characters.
set(CPACK_PACKAGE_DESCRIPTION
    "Tendrilview reads an L-system description, rewrites its axiom n times,\n\
walks the word with a turtle and draws the lines in a 600 by 600 window.\n\
P and L add and remove an iteration.\n\
Examples are in /usr/share/tendrilview/examples.")
set(CPACK_PACKAGE_FILE_NAME "tendrilview-${PROJECT_VERSION}")
set(CPACK_STRIP_FILES ON)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME "tendrilview-${PROJECT_VERSION}-windows-x86_64")
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
  # Mesa's drivers are loaded by libGL at run time, not linked: they are named here.
  # dpkg-shlibdeps (dpkg-dev) adds the libraries that the program links, with the
  # versions it needs; without it they are named here too.
  find_program(DPKG_SHLIBDEPS dpkg-shlibdeps)
  if(DPKG_SHLIBDEPS)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "libgl1-mesa-dri")
  else()
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libgcc-s1, libstdc++6, libopengl0, libglx0, libx11-6, libgl1-mesa-dri")
  endif()
endif()
include(CPack)

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

if(NOT PROJECT_IS_TOP_LEVEL)
  return()
endif()
set(CPACK_PACKAGE_NAME tendrilview)
set(CPACK_PACKAGE_VENDOR "Tendrilview")
set(CPACK_PACKAGE_CONTACT "Tendrilview developers <tendrilview@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Draws L-systems read from description files with OpenGL")
set(CPACK_PACKAGE_DESCRIPTION
    "Tendrilview reads an L-system description, rewrites its axiom n times, walks the word\n\
with a turtle and draws the lines in a 600 by 600 window. P and L add and remove an\n\
iteration. Examples are in /usr/share/tendrilview/examples.")
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

# Install rules and the Debian package.
#
# Layout under the prefix:
#   lib/korvane/          the programs and what they expect beside themselves
#                         (libSysInfoDll.so, help.chm); the programs find it through
#                         their own executable's folder, never the working folder
#   bin/                  links to the programs in lib/korvane/
#   share/korvane/demo/   the demo's update catalogue, message file and machine
#   share/applications/korvane.desktop, share/icons/hicolor/NxN/apps/korvane.png,
#   share/man/man1/       the menu entry, the icon theme and the manual pages
include(GNUInstallDirs)

set(KORVANE_INSTALL_LIBDIR lib/korvane)
set(KORVANE_PROGRAMS korvane korvane-check korvane-reg korvane-updsrv)

foreach(program ${KORVANE_PROGRAMS})
  if(TARGET ${program})
    # libSysInfoDll.so lies beside the program; $ORIGIN is the real file's folder
    # also when the program is started through its link in bin/.
    set_target_properties(${program} PROPERTIES INSTALL_RPATH "\$ORIGIN")
    install(TARGETS ${program} RUNTIME DESTINATION ${KORVANE_INSTALL_LIBDIR})
    install(CODE "
      set(link \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${program}\")
      file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
      file(REMOVE \"\${link}\")
      file(CREATE_LINK \"../${KORVANE_INSTALL_LIBDIR}/${program}\" \"\${link}\" SYMBOLIC)
      message(STATUS \"Installing: \${link} -> ../${KORVANE_INSTALL_LIBDIR}/${program}\")")
  endif()
endforeach()
if(TARGET SysInfoDll)
  install(TARGETS SysInfoDll LIBRARY DESTINATION ${KORVANE_INSTALL_LIBDIR} NAMELINK_SKIP)
endif()
install(FILES help/help.chm DESTINATION ${KORVANE_INSTALL_LIBDIR})

install(FILES demo/catalogue.txt demo/usermsg.txt DESTINATION ${CMAKE_INSTALL_DATADIR}/korvane/demo)
install(DIRECTORY tests/machines/xp-desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/korvane/demo/machines)

# The menu entry names the installed program by its full path, so it is written when
# the prefix is known (cmake --install --prefix, or CPack's /usr).
install(CODE "
  file(READ \"${CMAKE_SOURCE_DIR}/packaging/korvane.desktop.in\" entry)
  string(REPLACE \"@KORVANE_EXEC@\" \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/korvane\" entry \"\${entry}\")
  file(WRITE \"${CMAKE_BINARY_DIR}/packaging/korvane.desktop\" \"\${entry}\")
  file(INSTALL DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/applications\"
       TYPE FILE FILES \"${CMAKE_BINARY_DIR}/packaging/korvane.desktop\")")

if(TARGET korvane_desktop_icons)
  foreach(size 16 22 24 32 48 64 128 256)
    install(FILES ${CMAKE_BINARY_DIR}/resources/icons/${size}x${size}/apps/korvane.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
  endforeach()
endif()

foreach(page korvane korvane-check korvane-reg korvane-updsrv)
  install(FILES docs/man/${page}.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/korvane)

# ---- the Debian package: cpack -G DEB in the build folder ----
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME korvane)
set(CPACK_PACKAGE_VENDOR "Brantholm")
set(CPACK_PACKAGE_CONTACT "Korvane maintainers <korvane@localhost>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "driver update checker")
set(CPACK_PACKAGE_DESCRIPTION "Korvane lists the computer's devices with their installed drivers, asks an update\n\
server which of them have newer drivers, and downloads the packages it offers.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://korvane.invalid/")
# The shared libraries the programs link (Qt, OpenSSL, libjpeg, ...) become Depends
# through dpkg-shlibdeps; what the program starts at run time is named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "xdg-utils, hicolor-icon-theme")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "dbus-user-session | dbus-x11")
# dpkg-shlibdeps finds libSysInfoDll.so in the package's own folder.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS "${CMAKE_BINARY_DIR}/sysinfo")
set(CPACK_STRIP_FILES ON)
include(CPack)

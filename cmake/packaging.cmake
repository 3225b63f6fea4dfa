# Install rules and the Debian package (scripts/package.sh). The per-user installer (`setup`) stays separate and is
# not shipped here: the package puts the program where the system keeps it.
include(GNUInstallDirs)

foreach(t qtelnet vtsession)
  if(TARGET ${t})
    # Qt's project setup gives installed programs a $ORIGIN run path; in /usr/bin they need none.
    set_target_properties(${t} PROPERTIES INSTALL_RPATH "")
    install(TARGETS ${t} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()

set(_dist ${CMAKE_SOURCE_DIR}/dist)
install(FILES ${_dist}/linux/qtelnet.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${_dist}/linux/qtelnet.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${_dist}/linux/com.quillsoft.qtelnet.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${CMAKE_SOURCE_DIR}/docs/man/qtelnet.1 ${CMAKE_SOURCE_DIR}/docs/man/vtsession.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
# The client finds its help at <bindir>/../share/qtelnet/help.
install(DIRECTORY ${_dist}/help/ DESTINATION ${CMAKE_INSTALL_DATADIR}/qtelnet/help)
install(FILES ${_dist}/keys.map ${_dist}/pctonet.map ${_dist}/nettopc.map DESTINATION ${CMAKE_INSTALL_DATADIR}/qtelnet)
install(FILES ${_dist}/LICENSE.TXT DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME copyright)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qtelnet)
set(CPACK_PACKAGE_VENDOR QuillSoft)
set(CPACK_PACKAGE_CONTACT "QuillSoft <packages@quillsoft.example>")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${CPACK_PACKAGE_CONTACT})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Telnet and SSH terminal client")
# Wrapped by hand: dpkg shows the lines as they are.
set(CPACK_PACKAGE_DESCRIPTION
    "A desktop terminal client for one host at a time: a VT220 screen of 80 or\n\
132 columns with an xterm emulation, over Telnet or Secure Shell (SSH-1 and\n\
SSH-2), with key maps, session capture and printing. It opens ssh:// and\n\
telnet:// links. vtsession runs one session headless and prints the screen.")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)

# Builds and inspects the .deb: long, so it runs only when QTELNET_PACKAGE_TEST=1 asks for it.
if(QT_BUILD)
  add_subdirectory(tests/package)
endif()

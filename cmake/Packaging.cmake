# Installation and the Debian package (cpack -G DEB).
#
# /usr/bin gets bmsmon, bmsmon-cli and bmssim, and one symbolic link to
# bmsmon per edition: the edition is chosen by the beginning of the file
# name, so each link is a program of its own in the menu, with a .desktop
# entry. The man pages are written in docs/man and compressed here.
include(GNUInstallDirs)

set(BMS_EDITIONS
    "TQ58_LIT|BMS monitor|Watch the battery pack live and log it to CSV"
    "TQ58_ENG|BMS monitor (engineering)|Engineering edition: commands, history, parameters (password)"
    "TQ58_EVT|BMS production test|Production-test edition: test pack after pack against a plan (password)"
    "TQ58_CPL|BMS logger (CPL)|Logging edition: every run writes its CSV log"
    "TQ58_FPL|BMS logger (FPL)|Logging edition: a write-log barcode for every run"
    "PQTQ58_LIT|BMS monitor, reduced polling|Watch the pack with the reduced polling loop"
    "PQTQ58_ENG|BMS monitor, reduced polling (ENG)|Engineering prefix with the reduced polling loop"
    "PQTQ58_EVT|BMS production test, reduced polling|Production-test prefix with the reduced polling loop"
    "PQTQ58_CPL|BMS logger (CPL), reduced polling|Logging edition with the reduced polling loop"
    "PQTQ58_FPL|BMS logger (FPL), reduced polling|Logging edition with a write-log barcode and the reduced polling loop")

set(BMS_PKG_DIR ${CMAKE_BINARY_DIR}/package-files)
file(MAKE_DIRECTORY ${BMS_PKG_DIR}/bin ${BMS_PKG_DIR}/applications ${BMS_PKG_DIR}/man)

install(TARGETS bmsmon-cli bmssim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

set(BMS_MAN_PAGES bmsmon-cli bmssim)
if(TARGET bmsmon)
  install(TARGETS bmsmon RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  list(APPEND BMS_MAN_PAGES bmsmon)
  foreach(entry ${BMS_EDITIONS})
    string(REPLACE "|" ";" fields "${entry}")
    list(GET fields 0 prefix)
    list(GET fields 1 BMS_DESKTOP_NAME)
    list(GET fields 2 BMS_DESKTOP_COMMENT)
    set(BMS_DESKTOP_EXEC "${prefix}_bmsmon")
    string(TOLOWER "${prefix}" lower)
    file(CREATE_LINK bmsmon ${BMS_PKG_DIR}/bin/${BMS_DESKTOP_EXEC} SYMBOLIC)
    file(CREATE_LINK bmsmon.1.gz ${BMS_PKG_DIR}/man/${BMS_DESKTOP_EXEC}.1.gz SYMBOLIC)
    configure_file(${CMAKE_SOURCE_DIR}/packaging/bmsmon.desktop.in ${BMS_PKG_DIR}/applications/bmsmon-${lower}.desktop @ONLY)
    install(FILES ${BMS_PKG_DIR}/bin/${BMS_DESKTOP_EXEC} DESTINATION ${CMAKE_INSTALL_BINDIR})
    install(FILES ${BMS_PKG_DIR}/man/${BMS_DESKTOP_EXEC}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    install(FILES ${BMS_PKG_DIR}/applications/bmsmon-${lower}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  endforeach()
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/bmsmon.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()

find_program(BMS_GZIP gzip REQUIRED)
set(BMS_MAN_OUTPUTS)
foreach(page ${BMS_MAN_PAGES})
  set(out ${BMS_PKG_DIR}/man/${page}.1.gz)
  add_custom_command(OUTPUT ${out}
                     COMMAND ${BMS_GZIP} -9 -n -c ${CMAKE_SOURCE_DIR}/docs/man/${page}.1 > ${out}
                     DEPENDS ${CMAKE_SOURCE_DIR}/docs/man/${page}.1 VERBATIM)
  list(APPEND BMS_MAN_OUTPUTS ${out})
  install(FILES ${out} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
set(out ${BMS_PKG_DIR}/changelog.gz)
add_custom_command(OUTPUT ${out}
                   COMMAND ${BMS_GZIP} -9 -n -c ${CMAKE_SOURCE_DIR}/packaging/changelog > ${out}
                   DEPENDS ${CMAKE_SOURCE_DIR}/packaging/changelog VERBATIM)
list(APPEND BMS_MAN_OUTPUTS ${out})
add_custom_target(bms_package_files ALL DEPENDS ${BMS_MAN_OUTPUTS})
install(FILES ${CMAKE_SOURCE_DIR}/packaging/copyright ${out} DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME bmsmon)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "bmsmon developers <bmsmon-dev@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "service and production tool for a lithium battery pack")
# CPack puts the summary first and indents every line of this text itself;
# an empty line becomes the paragraph mark.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Watches a battery pack with a BMS on a serial line live and logs it to CSV,
sends engineering commands, runs the production test of pack after pack
against an INI plan with operator prompts and reports, reads and exports the
EEPROM history, prints the diagnosis report, edits parameter blocks over the
framed protocol and Modbus RTU, and checks the front end's EEPROM.

The package holds the window (bmsmon, with a menu entry per edition), the
command-line front end bmsmon-cli and the virtual pack bmssim.")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(TARGET bmsmon)
  # The window needs a platform plugin; the report's Chinese labels a CJK font.
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-noto-cjk")
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)

# Installing the program like any desktop program (GNUInstallDirs) and its
# Debian package (scripts/package, CPack's DEB generator).
include(GNUInstallDirs)
# Installing and packaging need only the installed programs, which
# scripts/package builds; not every test and benchmark first.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

install(TARGETS t5170 t5170-sim t5170-report RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/dist/t5170.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/dist/org.example.t5170.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
foreach(size 16 22 24 32 48 64 128 256)
  install(FILES ${PROJECT_SOURCE_DIR}/src/shell/icons/t5170-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME t5170.png)
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/src/shell/icons/t5170-icon.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps RENAME t5170.svg)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${PROJECT_SOURCE_DIR}/tools/sim/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR}
        RENAME README.t5170-sim.md)
install(FILES ${PROJECT_SOURCE_DIR}/tools/report/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR}
        RENAME README.t5170-report.md)
# Debian wants a changelog and a copyright file with every package.
install(FILES ${PROJECT_SOURCE_DIR}/dist/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${CMAKE_BINARY_DIR}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The changelog of this native package, compressed as Debian keeps it.
file(WRITE ${CMAKE_BINARY_DIR}/changelog
     "t5170 (${PROJECT_VERSION}) unstable; urgency=medium\n\n"
     "  * Release ${PROJECT_VERSION}.\n\n"
     " -- ${T5170_MAINTAINER}  Fri, 11 Dec 2026 00:00:00 +0000\n")
execute_process(COMMAND gzip -9nf ${CMAKE_BINARY_DIR}/changelog)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME t5170)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${T5170_MAINTAINER})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT) # t5170_VERSION_amd64.deb
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${T5170_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${PROJECT_HOMEPAGE_URL})
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
# Found by no library scan: Qt loads both as plugins or data at run time.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-translations-l10n, libqt6sql6-sqlite")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "companion program of the T5170 megohmmeter (мегаомметр T5170)")
# Paragraphs are separated by empty lines; CPack indents the lines and marks
# the empty ones as Debian wants.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Программа для цифрового мегаомметра T5170: опрос прибора через
последовательный порт, измерения сопротивления, абсорбции, поляризации и
напряжения, периодические измерения, настройки прибора и отчет об
измерениях в книге .xls или .xlsx.

The companion program of the T5170 digital megohmmeter: it polls the
instrument over a serial port, starts measurements of resistance,
absorption, polarization and voltage, runs periodic series, reads and
writes the instrument's settings and keeps the measurement report as an .xls
or .xlsx workbook. Includes the instrument simulator t5170-sim and the
report tool t5170-report.

An ordinary user opens the serial port as a member of the dialout group:
sudo adduser $USER dialout, then log in again. Обычный пользователь
открывает последовательный порт, если входит в группу dialout.")
include(CPack)

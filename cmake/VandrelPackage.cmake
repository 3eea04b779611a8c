# Installation the Debian way (GNUInstallDirs) and the .deb that scripts/package builds:
#   bin/vandrel, bin/vandrel-devsim (their own CMakeLists.txt), the desktop entry, the icon as
#   SVG and PNGs in the hicolor theme, the AppStream metadata, the manual pages, the bash
#   completions, the changelog and the copyright file.

# The desktop entry and the AppStream metadata are named after this id; the program gives it
# to the desktop as its own (VandrelApplication.cpp).
set(VANDREL_APP_ID org.vandrel.Vandrel)
set(VANDREL_RELEASE_DATE 2026-12-09)
set(packaging ${PROJECT_SOURCE_DIR}/packaging)
set(staged ${PROJECT_BINARY_DIR}/packaging)

# The PNG icons, rendered from the program's picture.
set(icon_sizes 16 22 24 32 48 64 128 256)
set(icon_pngs "")
foreach(size ${icon_sizes})
    list(APPEND icon_pngs ${staged}/icons/${size}x${size}/apps/vandrel.png)
endforeach()
add_custom_command(OUTPUT ${icon_pngs}
    COMMAND vandrel-iconrender ${staged}/icons ${icon_sizes}
    DEPENDS vandrel-iconrender ${PROJECT_SOURCE_DIR}/src/app/resources/vandrel.svg
    COMMENT "Rendering the PNG icons")

# Manual pages, compressed as Debian installs them.
set(man_pages "")
foreach(page vandrel.1 vandrel-devsim.1)
    configure_file(${packaging}/${page} ${staged}/${page} @ONLY)
    add_custom_command(OUTPUT ${staged}/${page}.gz
        COMMAND gzip -9 -n -c ${staged}/${page} > ${staged}/${page}.gz
        DEPENDS ${staged}/${page}
        COMMENT "Compressing ${page}")
    list(APPEND man_pages ${staged}/${page}.gz)
endforeach()
# A native package's changelog, compressed as Debian installs it.
add_custom_command(OUTPUT ${staged}/changelog.gz
    COMMAND gzip -9 -n -c ${packaging}/changelog > ${staged}/changelog.gz
    DEPENDS ${packaging}/changelog
    COMMENT "Compressing the changelog")
add_custom_target(vandrel_install_data ALL DEPENDS ${icon_pngs} ${man_pages} ${staged}/changelog.gz)

configure_file(${packaging}/${VANDREL_APP_ID}.metainfo.xml
    ${staged}/${VANDREL_APP_ID}.metainfo.xml @ONLY)

install(FILES ${packaging}/${VANDREL_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${staged}/${VANDREL_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${PROJECT_SOURCE_DIR}/src/app/resources/vandrel.svg
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size ${icon_sizes})
    install(FILES ${staged}/icons/${size}x${size}/apps/vandrel.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${packaging}/copyright ${staged}/changelog.gz DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/vandrel)
install(FILES ${packaging}/completions/vandrel ${packaging}/completions/vandrel-devsim
    DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)

# The .deb: its library dependencies come from dpkg-shlibdeps; the rest are what the program
# needs at run time beyond its libraries (the X11 platform plugin, the services file); it
# recommends the editor and browser launcher, a font, the GTK desktop's font settings and the
# Wayland platform plugin, so that a Wayland desktop runs the program natively.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vandrel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Vandrel Project")
set(CPACK_PACKAGE_CONTACT "The Vandrel Project <info@vandrel.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "find small networked devices and configure them over telnet")
set(CPACK_PACKAGE_DESCRIPTION
    "Vandrel is a desktop tool for technicians who commission small networked\n"
    "devices. It finds the devices on the local networks by a UDP broadcast on\n"
    "port 33300, lists them in a sortable table, opens telnet sessions to them in\n"
    "tabs, starts their IP configuration dialogue, records sessions into log files\n"
    "and prints or exports the device table. vandrel-devsim simulates such a\n"
    "device for training and tests.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://www.vandrel.example)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, netbase")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils, fonts-dejavu-core, qt6-gtk-platformtheme, qt6-wayland")
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
include(CPack)

# Installation layout and packages.
#   Linux:   cpack -G DEB gives packmeter_<version>_amd64.deb (both programs, desktop entry,
#            icons, AppStream metadata, manual pages, the readme).
#   Windows: the programs and Readme.txt side by side, as the window looks for the readme next
#            to itself; tools/package zips them and builds the installer from packaging/windows.
include(GNUInstallDirs)

set(PACKMETER_PACKAGING ${CMAKE_SOURCE_DIR}/packaging)

if(WIN32)
    install(TARGETS packmeter-cli RUNTIME DESTINATION .)
    if(TARGET packmeter)
        install(TARGETS packmeter RUNTIME DESTINATION .)
    endif()
    # With CR LF line ends, as Windows' own text viewers expect.
    file(READ ${PACKMETER_PACKAGING}/Readme.txt readme)
    string(REPLACE "\r\n" "\n" readme "${readme}")
    string(REPLACE "\n" "\r\n" readme "${readme}")
    file(WRITE ${CMAKE_BINARY_DIR}/windows/Readme.txt "${readme}")
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
                 ${PACKMETER_PACKAGING}/Readme.txt)
    install(FILES ${CMAKE_BINARY_DIR}/windows/Readme.txt DESTINATION .)
    return()
endif()

install(TARGETS packmeter-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET packmeter)
    install(TARGETS packmeter RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

# The measuring helper beside the programs, and the polkit action that lets pkexec start it; the
# action names the helper's installed path, known only when installing (CPack installs to /usr).
install(TARGETS packmeter-measure RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/packmeter)
install(CODE "
    set(PACKMETER_HOMEPAGE \"${PACKMETER_HOMEPAGE}\")
    set(PACKMETER_HELPER_PATH
        \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBEXECDIR}/packmeter/packmeter-measure\")
    configure_file(\"${PACKMETER_PACKAGING}/linux/org.packmeter.measure.policy.in\"
                   \"${CMAKE_BINARY_DIR}/packaged/org.packmeter.measure.policy\" @ONLY)")
install(FILES ${CMAKE_BINARY_DIR}/packaged/org.packmeter.measure.policy
        DESTINATION ${CMAKE_INSTALL_DATADIR}/polkit-1/actions)

set(PACKMETER_APP_ID org.packmeter.Packmeter)
set(packaged ${CMAKE_BINARY_DIR}/packaged)
configure_file(${PACKMETER_PACKAGING}/linux/${PACKMETER_APP_ID}.metainfo.xml
               ${packaged}/${PACKMETER_APP_ID}.metainfo.xml @ONLY)
install(FILES ${PACKMETER_PACKAGING}/linux/packmeter.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${packaged}/${PACKMETER_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# The icon in the hicolor theme: the vector picture, and pictures rendered from it for the sizes
# that menus and task bars ask for.
install(FILES ${PACKMETER_PACKAGING}/linux/packmeter.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
find_program(RSVG_CONVERT rsvg-convert)
if(RSVG_CONVERT)
    set(icon_files "")
    foreach(size IN ITEMS 16 22 24 32 48 64 128 256)
        set(png ${packaged}/icons/${size}/packmeter.png)
        add_custom_command(OUTPUT ${png}
            COMMAND ${CMAKE_COMMAND} -E make_directory ${packaged}/icons/${size}
            COMMAND ${RSVG_CONVERT} -w ${size} -h ${size} -o ${png}
                    ${PACKMETER_PACKAGING}/linux/packmeter.svg
            DEPENDS ${PACKMETER_PACKAGING}/linux/packmeter.svg VERBATIM)
        list(APPEND icon_files ${png})
        install(FILES ${png}
                DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
    endforeach()
    add_custom_target(packmeter_icons ALL DEPENDS ${icon_files})
else()
    message(STATUS "rsvg-convert not found: only the scalable icon is installed")
endif()

# Debian's documentation rules: the readme, the copyright and a compressed changelog under
# /usr/share/doc/packmeter; manual pages compressed as well.
set(docdir ${CMAKE_INSTALL_DATADIR}/doc/packmeter)
configure_file(${PACKMETER_PACKAGING}/linux/changelog ${packaged}/changelog @ONLY)
add_custom_command(OUTPUT ${packaged}/changelog.gz
    COMMAND gzip -9nf -k ${packaged}/changelog
    DEPENDS ${packaged}/changelog VERBATIM)
add_custom_target(packmeter_changelog ALL DEPENDS ${packaged}/changelog.gz)
install(FILES ${PACKMETER_PACKAGING}/Readme.txt ${PACKMETER_PACKAGING}/linux/copyright
              ${packaged}/changelog.gz
        DESTINATION ${docdir})

set(CPACK_PACKAGE_NAME packmeter)
set(CPACK_PACKAGE_VENDOR "The Packmeter developers")
set(CPACK_PACKAGE_VERSION ${PACKMETER_FILE_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "shows how much room files take on disk and switches compression")
set(CPACK_PACKAGE_CONTACT "The Packmeter developers <${PACKMETER_CONTACT_EMAIL}>")
set(CPACK_GENERATOR DEB)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries the programs link are found by dpkg-shlibdeps, never typed by hand; xdg-utils
# opens a double-clicked file in its application; pkexec starts the measuring helper, which
# gives exact btrfs sizes to users without root.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils, pkexec")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "btrfs-progs, ntfs-3g")
set(CPACK_PACKAGE_DESCRIPTION "Packmeter lists every entry of a folder with its logical size, the space it
really takes on disk after file-system compression and the saving in percent,
with the folder's totals above the list. It measures btrfs (exactly, when run
as root), NTFS through ntfs-3g and every other file system, and switches
compression on or off for files and whole folder trees.

The package holds the window (packmeter) and a command-line tool
(packmeter-cli) that prints the same list as a table, tab-separated text or
JSON.")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR}/dist)
include(CPack)

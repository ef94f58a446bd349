# Install layout and the Debian package of the console.
#
# `cmake --install BUILD` lays out one self-contained folder, /opt/kalvora unless
# CMAKE_INSTALL_PREFIX says otherwise:
#
#   kalvora                    the console
#   kalvora.ini                the ward's settings: the file the console writes
#                              on its first start, written at build time by the
#                              console's own code (tools/settings); installed
#                              only where there is none yet (the package: a
#                              link to /etc/kalvora/kalvora.ini, below)
#   bin/kalvora-callsim        the call-server simulator
#   demo-data/                 the demo data, kept as shipped: a template to start from
#   data/                      the ward's data folder; copied from demo-data on the
#                              first install only, never overwritten afterwards
#
# Everything but data/ belongs to whoever installs (root) and is 0755/0644: the
# staff run the console from this folder, so none of them may write in it (a
# qt.conf or a plugin planted beside the executable would run in every other
# user's console). Only data/ is the staff's (root:kalvora 2775, made by the
# package's postinst or by hand, docs/INSTALL.md).
#
# Unless KALVORA_INSTALL_SYSTEM_FILES is OFF, also the files that make it part
# of the system: a link in /usr/bin for every command, their manual pages, the
# desktop entry, the icons and the AppStream metadata under /usr/share, the
# systemd user unit /usr/lib/systemd/user/kalvora.service that runs the console
# on a ward PC, and the autostart entry that starts the unit at log-in,
# /usr/share/kalvora/autostart/kalvora.desktop (shipped off: an administrator
# copies it to /etc/xdg/autostart/ for every account, or a user to
# ~/.config/autostart/; docs/INSTALL.md).
#
# `cpack -G DEB` in the build folder (scripts/package.sh does it all) makes
# kalvora_VERSION_ARCH.deb with the same layout, always under /opt/kalvora, plus
# the copyright file, the changelog and the lintian override. The settings file
# is a configuration file of the package, so it lives where Debian keeps those,
# in /etc/kalvora/kalvora.ini (root's, 0644; administrators' edits survive
# upgrades; purge removes it), and /opt/kalvora/kalvora.ini is a link to it,
# which the console follows. The package does not own data/: its postinst
# copies the demo data there on the first install (packaging/debian/postinst),
# so that upgrades and a plain remove never touch the ward's plan, pictures
# and beds; purge deletes them (packaging/debian/postrm).

include_guard(GLOBAL)

set(KALVORA_PACKAGE_PREFIX /opt/kalvora)
if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
    set(CMAKE_INSTALL_PREFIX ${KALVORA_PACKAGE_PREFIX} CACHE PATH
        "Folder the console is installed into" FORCE)
endif()

option(KALVORA_INSTALL_SYSTEM_FILES
       "Also install the /usr/bin links, manual pages, desktop entry, icons, AppStream metadata, systemd user unit and autostart entry" ON)

# The commands, as paths inside the folder. Each gets a link in /usr/bin and a
# manual page made from packaging/man/NAME.1.in (NAME: the file's name).
set(KALVORA_COMMANDS kalvora bin/kalvora-callsim bin/kalvora-report)

# What the package needs besides the libraries dpkg-shlibdeps finds in the link
# lines of the binaries (the Qt libraries, libc, ...): what Qt loads at run time
# and the maintainer scripts' tools. Extend this list rather than the Depends
# line below.
#   adduser                the postinst creates the group kalvora
#   qt6-qpa-plugins        Qt's platform plugins (on Debian 12 the X11 one comes
#                          with libqt6gui6, which Debian recommends this with)
#   qt6-translations-l10n  Qt's own Russian texts (standard buttons, edit menus)
#   libqt6sql6-sqlite      Qt's SQLite driver, for the call journal and kalvora-report
#   fonts-wine             Tahoma, the console's face: the call list's columns are
#                          laid out for it, and a wider stand-in runs the bed
#                          name into the time column
set(KALVORA_PACKAGE_EXTRA_DEPENDS
    adduser qt6-qpa-plugins qt6-translations-l10n libqt6sql6-sqlite fonts-wine)

set(KALVORA_PACKAGING ${CMAKE_SOURCE_DIR}/packaging)
set(KALVORA_DEMO_DATA ${CMAKE_SOURCE_DIR}/demo/data)
# Made at build time: the settings file, manual pages, the changelog.
set(KALVORA_GENERATED ${CMAKE_BINARY_DIR}/packaging)
# Made at install time: the desktop entry and the links, for the prefix used.
set(KALVORA_STAGE ${CMAKE_BINARY_DIR}/packaging-stage)

set(KALVORA_FILE_MODE OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
set(KALVORA_DIR_MODE OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                     WORLD_READ WORLD_EXECUTE)

# install(CODE) with the @NAME@ folders of this build filled in; ${...} is left
# for install time.
function(kalvora_install_code code component)
    string(CONFIGURE "${code}" code @ONLY)
    install(CODE "${code}" COMPONENT ${component})
endfunction()

# --- Made at build time -------------------------------------------------------

find_program(KALVORA_GZIP gzip REQUIRED)

# The settings file exactly as a console writes it on its first start.
add_custom_command(
    OUTPUT ${KALVORA_GENERATED}/kalvora.ini
    COMMAND ${CMAKE_COMMAND} -E rm -f ${KALVORA_GENERATED}/kalvora.ini
    COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0
            $<TARGET_FILE:kalvora-write-settings> ${KALVORA_GENERATED}/kalvora.ini
    DEPENDS kalvora-write-settings
    COMMENT "Writing the first-start settings file kalvora.ini"
    VERBATIM)
set(generated ${KALVORA_GENERATED}/kalvora.ini)

# Manual pages: packaging/man/NAME.1.in with @PROJECT_VERSION@ filled in,
# compressed as Debian wants them (gzip -9n: no name or time in the header, so
# the same source always gives the same bytes).
foreach(command IN LISTS KALVORA_COMMANDS)
    get_filename_component(name ${command} NAME)
    set(page ${KALVORA_PACKAGING}/man/${name}.1.in)
    if(NOT EXISTS ${page})
        message(FATAL_ERROR "The command ${name} has no manual page: write ${page}")
    endif()
    configure_file(${page} ${KALVORA_GENERATED}/man/${name}.1 @ONLY)
    add_custom_command(
        OUTPUT ${KALVORA_GENERATED}/man/${name}.1.gz
        COMMAND sh -c "\"$1\" -9nc \"$2\" > \"$3\"" gzip ${KALVORA_GZIP}
                ${KALVORA_GENERATED}/man/${name}.1 ${KALVORA_GENERATED}/man/${name}.1.gz
        DEPENDS ${KALVORA_GENERATED}/man/${name}.1
        VERBATIM)
    list(APPEND generated ${KALVORA_GENERATED}/man/${name}.1.gz)
endforeach()

add_custom_command(
    OUTPUT ${KALVORA_GENERATED}/changelog.gz
    COMMAND sh -c "\"$1\" -9nc \"$2\" > \"$3\"" gzip ${KALVORA_GZIP}
            ${KALVORA_PACKAGING}/debian/changelog ${KALVORA_GENERATED}/changelog.gz
    DEPENDS ${KALVORA_PACKAGING}/debian/changelog
    VERBATIM)
list(APPEND generated ${KALVORA_GENERATED}/changelog.gz)

add_custom_target(package-files ALL DEPENDS ${generated})

# --- The folder ---------------------------------------------------------------

# The console at the folder's top: it finds kalvora.ini and data/ beside itself.
install(TARGETS kalvora RUNTIME DESTINATION . COMPONENT console)
# The simulator is installed by tools/callsim to bin/ (component Unspecified).

# The settings file, once: installing a newer build keeps the ward's settings.
# The package leaves this component out and ships the file in /etc (below).
kalvora_install_code([[
    set(_ini "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/kalvora.ini")
    if(EXISTS "${_ini}" OR IS_SYMLINK "${_ini}")
        message(STATUS "Keeping the existing settings file: ${_ini}")
    else()
        file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}" TYPE FILE
             PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
             FILES "@KALVORA_GENERATED@/kalvora.ini")
    endif()
]] settings)

# The demo data as shipped, read-only for everyone but root.
install(DIRECTORY ${KALVORA_DEMO_DATA}/ DESTINATION demo-data COMPONENT console
        FILE_PERMISSIONS ${KALVORA_FILE_MODE} DIRECTORY_PERMISSIONS ${KALVORA_DIR_MODE})

# The ward's data folder: the demo data on the first install, and never again,
# so that installing a newer build keeps the ward's plan and beds. The package
# leaves this component out; its postinst does the same at the first install.
kalvora_install_code([[
    set(_data "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/data")
    if(EXISTS "${_data}" OR IS_SYMLINK "${_data}")
        message(STATUS "Keeping the existing data folder: ${_data}")
    else()
        file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}" TYPE DIRECTORY
             FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
             DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
                                   GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE
             FILES "@KALVORA_DEMO_DATA@")
    endif()
]] ward-data)

# --- System integration -------------------------------------------------------

if(KALVORA_INSTALL_SYSTEM_FILES)
    # The desktop entry and the user unit start the console in this install's
    # folder; the links put the folder's commands on the PATH. All are made at
    # install time, from
    # the prefix the install really uses, and installed with file(INSTALL) so
    # that DESTDIR, the install manifest and packaging see them as files. Each
    # install removes them first: file(INSTALL) takes a file of the same size
    # and time as up to date, which a second install within a second (another
    # prefix) would otherwise leave pointing at the first one's folder.
    set(code [[
        file(MAKE_DIRECTORY "@KALVORA_STAGE@")
        file(READ "@KALVORA_PACKAGING@/kalvora.desktop" _entry)
        string(REPLACE "Exec=/opt/kalvora/kalvora" "Exec=${CMAKE_INSTALL_PREFIX}/kalvora"
               _entry "${_entry}")
        file(WRITE "@KALVORA_STAGE@/kalvora.desktop" "${_entry}")
        file(REMOVE "$ENV{DESTDIR}/usr/share/applications/kalvora.desktop")
        file(INSTALL DESTINATION "/usr/share/applications" TYPE FILE
             PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
             FILES "@KALVORA_STAGE@/kalvora.desktop")
        file(READ "@KALVORA_PACKAGING@/kalvora.service" _unit)
        string(REPLACE "ExecStart=/opt/kalvora/kalvora" "ExecStart=${CMAKE_INSTALL_PREFIX}/kalvora"
               _unit "${_unit}")
        file(WRITE "@KALVORA_STAGE@/kalvora.service" "${_unit}")
        file(REMOVE "$ENV{DESTDIR}/usr/lib/systemd/user/kalvora.service")
        file(INSTALL DESTINATION "/usr/lib/systemd/user" TYPE FILE
             PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
             FILES "@KALVORA_STAGE@/kalvora.service")
    ]])
    foreach(command IN LISTS KALVORA_COMMANDS)
        get_filename_component(name ${command} NAME)
        string(APPEND code "
        file(REMOVE \"@KALVORA_STAGE@/${name}\" \"\$ENV{DESTDIR}/usr/bin/${name}\")
        file(CREATE_LINK \"\${CMAKE_INSTALL_PREFIX}/${command}\" \"@KALVORA_STAGE@/${name}\" SYMBOLIC)
        file(INSTALL DESTINATION \"/usr/bin\" TYPE FILE FILES \"@KALVORA_STAGE@/${name}\")
")
        install(FILES ${KALVORA_GENERATED}/man/${name}.1.gz DESTINATION /usr/share/man/man1
                PERMISSIONS ${KALVORA_FILE_MODE} COMPONENT system)
    endforeach()
    kalvora_install_code("${code}" system)

    # The autostart entry names no folder: it starts the unit.
    install(FILES ${KALVORA_PACKAGING}/autostart/kalvora.desktop
            DESTINATION /usr/share/kalvora/autostart PERMISSIONS ${KALVORA_FILE_MODE}
            COMPONENT system)
    install(FILES ${KALVORA_PACKAGING}/kalvora.svg
            DESTINATION /usr/share/icons/hicolor/scalable/apps COMPONENT system)
    foreach(size 48 64 128 256)
        install(FILES ${KALVORA_PACKAGING}/icons/${size}x${size}/kalvora.png
                DESTINATION /usr/share/icons/hicolor/${size}x${size}/apps COMPONENT system)
    endforeach()
    install(FILES ${KALVORA_PACKAGING}/kalvora.metainfo.xml
            DESTINATION /usr/share/metainfo RENAME org.kalvora.Kalvora.metainfo.xml
            COMPONENT system)
endif()

# Only in the package: the settings file as a configuration file in /etc with
# its link beside the console, Debian's copyright file (the licence, LICENSE,
# is GPL-3.0-or-later; Debian systems carry its text in
# /usr/share/common-licenses), the changelog, and the reason for the one
# lintian tag the layout gives.
set(KALVORA_PACKAGE_SETTINGS /etc/kalvora/kalvora.ini)
file(MAKE_DIRECTORY ${KALVORA_GENERATED}/settings-link)
file(CREATE_LINK ${KALVORA_PACKAGE_SETTINGS} ${KALVORA_GENERATED}/settings-link/kalvora.ini SYMBOLIC)
install(FILES ${KALVORA_GENERATED}/kalvora.ini DESTINATION /etc/kalvora
        PERMISSIONS ${KALVORA_FILE_MODE} COMPONENT debian EXCLUDE_FROM_ALL)
install(FILES ${KALVORA_GENERATED}/settings-link/kalvora.ini DESTINATION .
        COMPONENT debian EXCLUDE_FROM_ALL)
install(FILES ${KALVORA_PACKAGING}/debian/copyright ${KALVORA_GENERATED}/changelog.gz
        DESTINATION /usr/share/doc/kalvora PERMISSIONS ${KALVORA_FILE_MODE}
        COMPONENT debian EXCLUDE_FROM_ALL)
install(FILES ${KALVORA_PACKAGING}/debian/lintian-overrides
        DESTINATION /usr/share/lintian/overrides RENAME kalvora
        PERMISSIONS ${KALVORA_FILE_MODE} COMPONENT debian EXCLUDE_FROM_ALL)

# --- The Debian package -------------------------------------------------------

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kalvora)
set(CPACK_PACKAGE_VENDOR "Kalvora developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Kalvora developers <dev@kalvora.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "bed-call console for a hospital ward")
set(CPACK_PACKAGE_DESCRIPTION [[
Kalvora is the desktop console of a hospital ward's bed-call system. When a
patient presses the call button at a bed, the ward's call server sends a UDP
datagram; the console shows the call on the ward's floor plan (calling,
overdue, with a bill sign when the patient asks for the bill), plays a sound,
lists the current calls with their waiting time and ends overdue calls by
itself. Beds are moved, added, edited and deleted on the plan with the mouse.
The user interface is in Russian.

The console is installed in /opt/kalvora with the demo ward in
/opt/kalvora/data; staff who run it must be members of the group kalvora.
The package also provides kalvora-callsim, a call-server simulator for
trying a console without a real call system.]])

set(CPACK_PACKAGING_INSTALL_PREFIX ${KALVORA_PACKAGE_PREFIX})
# Installs into the staging folder through DESTDIR, so that the files under
# /usr land in the package and the links point to /opt/kalvora.
set(CPACK_SET_DESTDIR ON)
set(CPACK_STRIP_FILES ON)

# One package holding every component but settings and ward-data (see above).
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_COMPONENTS_ALL console Unspecified debian)
if(KALVORA_INSTALL_SYSTEM_FILES)
    list(APPEND CPACK_COMPONENTS_ALL system)
endif()

set(CPACK_DEBIAN_PACKAGE_NAME kalvora)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Kalvora developers <dev@kalvora.example>")
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://kalvora.example/")
# The Qt libraries and the rest are found by dpkg-shlibdeps from the binaries
# (scripts/package.sh fails when it is missing: CPack only warns and leaves
# them out).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
list(JOIN KALVORA_PACKAGE_EXTRA_DEPENDS ", " CPACK_DEBIAN_PACKAGE_DEPENDS)
configure_file(${KALVORA_PACKAGING}/debian/conffiles.in ${KALVORA_GENERATED}/conffiles @ONLY)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${KALVORA_GENERATED}/conffiles
    ${KALVORA_PACKAGING}/debian/preinst
    ${KALVORA_PACKAGING}/debian/postinst
    ${KALVORA_PACKAGING}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)

include(CPack)

# Installing twice in a row, with two prefixes: the second one wins.
if(KALVORA_BUILD_TESTS)
    add_test(NAME install_twice
             COMMAND ${CMAKE_COMMAND} -DBUILD=${CMAKE_BINARY_DIR}
                     -DWORK=${CMAKE_BINARY_DIR}/install-twice
                     -P ${CMAKE_SOURCE_DIR}/cmake/CheckInstallTwice.cmake)
endif()

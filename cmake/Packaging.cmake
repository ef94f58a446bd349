# Install layout and the Debian package of the console.
#
# `cmake --install BUILD` lays out one self-contained folder, /opt/kalvora unless
# CMAKE_INSTALL_PREFIX says otherwise:
#
#   kalvora                    the console (it writes kalvora.ini beside itself)
#   bin/kalvora-callsim        the call-server simulator
#   demo-data/                 the demo data, kept as shipped: a template to start from
#   data/                      the ward's data folder; copied from demo-data on the
#                              first install only, never overwritten afterwards
#
# and, unless KALVORA_INSTALL_SYSTEM_FILES is OFF, the files that make it part of
# the system: /usr/bin/kalvora-callsim (a link to the folder's simulator), the
# desktop entry, the icons and the AppStream metadata under /usr/share.
#
# `cpack -G DEB` in the build folder makes kalvora_VERSION_ARCH.deb with the same
# layout, always under /opt/kalvora. The package does not own data/: its
# postinst copies the demo data there on the first install and makes the
# folder writable for the group kalvora (packaging/debian/postinst), so that
# upgrades and a plain remove never touch the ward's plan, pictures and beds;
# purge deletes them (packaging/debian/postrm).

include_guard(GLOBAL)

set(KALVORA_PACKAGE_PREFIX /opt/kalvora)
if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
    set(CMAKE_INSTALL_PREFIX ${KALVORA_PACKAGE_PREFIX} CACHE PATH
        "Folder the console is installed into" FORCE)
endif()

option(KALVORA_INSTALL_SYSTEM_FILES
       "Also install /usr/bin/kalvora-callsim, the desktop entry, icons and AppStream metadata" ON)

set(KALVORA_PACKAGING ${CMAKE_SOURCE_DIR}/packaging)
set(KALVORA_DEMO_DATA ${CMAKE_SOURCE_DIR}/demo/data)
set(KALVORA_STAGE ${CMAKE_BINARY_DIR}/packaging-stage)

# install(CODE) with the @NAME@ folders of this build filled in; ${...} is left
# for install time.
function(kalvora_install_code code component)
    string(CONFIGURE "${code}" code @ONLY)
    install(CODE "${code}" COMPONENT ${component})
endfunction()

# --- The folder ---------------------------------------------------------------

# The console at the folder's top: it finds kalvora.ini and data/ beside itself.
install(TARGETS kalvora RUNTIME DESTINATION . COMPONENT console)
# The simulator is installed by tools/callsim to bin/ (component Unspecified).

# The demo data as shipped, read-only for everyone but root.
install(DIRECTORY ${CMAKE_SOURCE_DIR}/demo/data/ DESTINATION demo-data COMPONENT console)

# The ward's data folder: the demo data on the first install, and never again,
# so that installing a newer build keeps the ward's plan and beds. The package
# leaves this component out; its postinst does the same at the first install.
kalvora_install_code([[
    set(_data "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/data")
    if(EXISTS "${_data}" OR IS_SYMLINK "${_data}")
        message(STATUS "Keeping the existing data folder: ${_data}")
    else()
        file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}" TYPE DIRECTORY
             FILES "@KALVORA_DEMO_DATA@")
    endif()
]] ward-data)

# --- System integration -------------------------------------------------------

if(KALVORA_INSTALL_SYSTEM_FILES)
    # The desktop entry starts the console in this install's folder; the link
    # puts the folder's simulator on the PATH. Both are made at install time,
    # from the prefix the install really uses, and installed with file(INSTALL)
    # so that DESTDIR, the install manifest and packaging see them as files.
    kalvora_install_code([[
        file(MAKE_DIRECTORY "@KALVORA_STAGE@")
        file(READ "@KALVORA_PACKAGING@/kalvora.desktop" _entry)
        string(REPLACE "Exec=/opt/kalvora/kalvora" "Exec=${CMAKE_INSTALL_PREFIX}/kalvora"
               _entry "${_entry}")
        file(WRITE "@KALVORA_STAGE@/kalvora.desktop" "${_entry}")
        file(INSTALL DESTINATION "/usr/share/applications" TYPE FILE
             PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
             FILES "@KALVORA_STAGE@/kalvora.desktop")

        file(REMOVE "@KALVORA_STAGE@/kalvora-callsim")
        file(CREATE_LINK "${CMAKE_INSTALL_PREFIX}/bin/kalvora-callsim"
             "@KALVORA_STAGE@/kalvora-callsim" SYMBOLIC)
        file(INSTALL DESTINATION "/usr/bin" TYPE FILE
             FILES "@KALVORA_STAGE@/kalvora-callsim")
    ]] system)

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

# --- The Debian package -------------------------------------------------------

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kalvora)
set(CPACK_PACKAGE_VENDOR "Kalvora developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Kalvora developers <dev@kalvora.local>")
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
# /usr land in the package and the link points to /opt/kalvora.
set(CPACK_SET_DESTDIR ON)
set(CPACK_STRIP_FILES ON)

# One package holding every component but ward-data (see postinst).
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_COMPONENTS_ALL console Unspecified)
if(KALVORA_INSTALL_SYSTEM_FILES)
    list(APPEND CPACK_COMPONENTS_ALL system)
endif()

set(CPACK_DEBIAN_PACKAGE_NAME kalvora)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Kalvora developers <dev@kalvora.local>")
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://kalvora.example/")
# The Qt libraries and the rest are found by dpkg-shlibdeps from the binaries.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# postinst creates the group with addgroup.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser")
# The console's face is Tahoma, which Debian ships in fonts-wine.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-wine")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${KALVORA_PACKAGING}/debian/postinst
    ${KALVORA_PACKAGING}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)

include(CPack)

# Installs the build twice into a scratch root (DESTDIR), first with another
# prefix and at once again with the default one, and checks that the second
# install wins everywhere: the desktop entry's Exec, the user unit's ExecStart
# and the /usr/bin links name
# /opt/kalvora (file(INSTALL) once took the first install's files, of the same
# size and time, as up to date). Then checks that a third install keeps a
# settings file an administrator edited.
#   cmake -DBUILD=<build folder> -DWORK=<scratch folder> -P CheckInstallTwice.cmake
# Run by CTest (test install_twice).

function(fail message)
    message(FATAL_ERROR "install_twice: ${message}")
endfunction()

function(install_build)
    execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} ${ARGN}
                    RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
    if(NOT status EQUAL 0)
        fail("cmake --install ${ARGN} failed:\n${out}")
    endif()
    set(install_output "${out}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE ${WORK})
set(ENV{DESTDIR} ${WORK})
install_build(--prefix /srv/elsewhere)
install_build()

file(STRINGS ${WORK}/usr/share/applications/kalvora.desktop exec REGEX "^Exec=")
if(NOT exec STREQUAL "Exec=/opt/kalvora/kalvora")
    fail("the desktop entry says ${exec}")
endif()
file(STRINGS ${WORK}/usr/lib/systemd/user/kalvora.service exec REGEX "^ExecStart=")
if(NOT exec STREQUAL "ExecStart=/opt/kalvora/kalvora")
    fail("the user unit says ${exec}")
endif()
foreach(link kalvora:/opt/kalvora/kalvora kalvora-callsim:/opt/kalvora/bin/kalvora-callsim)
    string(REPLACE ":" ";" link ${link})
    list(GET link 0 name)
    list(GET link 1 expected)
    file(READ_SYMLINK ${WORK}/usr/bin/${name} target)
    if(NOT target STREQUAL expected)
        fail("/usr/bin/${name} points to ${target}, not ${expected}")
    endif()
endforeach()

set(ini ${WORK}/opt/kalvora/kalvora.ini)
file(READ ${ini} installed)
file(READ ${BUILD}/packaging/kalvora.ini generated)
if(NOT installed STREQUAL generated)
    fail("the installed kalvora.ini is not the generated one")
endif()

file(APPEND ${ini} "; edited by the administrator\n")
file(READ ${ini} edited)
install_build()
file(READ ${ini} after)
if(NOT after STREQUAL edited)
    fail("installing again replaced an edited kalvora.ini")
endif()
if(NOT install_output MATCHES "Keeping the existing settings file")
    fail("installing again did not say it keeps the settings file")
endif()

file(REMOVE_RECURSE ${WORK})
message(STATUS "install_twice: the second install's prefix wins; an edited settings file is kept")

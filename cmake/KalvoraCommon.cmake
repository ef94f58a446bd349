# Warnings, Qt defines and sanitizer flags shared by every target of the project.
add_library(kalvora_options INTERFACE)
target_compile_options(kalvora_options INTERFACE -Wall -Wextra -Wpedantic -Wshadow=local -Wnon-virtual-dtor)
target_compile_definitions(kalvora_options INTERFACE
    QT_NO_CAST_FROM_ASCII
    QT_NO_CAST_TO_ASCII
    QT_USE_QSTRINGBUILDER
    QT_NO_URL_CAST_FROM_STRING
    QT_NO_NARROWING_CONVERSIONS_IN_CONNECT)

if(KALVORA_SANITIZE)
    target_compile_options(kalvora_options INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    target_link_options(kalvora_options INTERFACE -fsanitize=address,undefined)
endif()

# kalvora_add_test(NAME name SOURCES files... [NETWORK])
# A QtTest executable linked against the console library. Tests marked NETWORK
# open sockets; the test runner puts the whole run into a private network
# namespace, and they refuse to run outside one (see tests/NetworkGuard.h).
function(kalvora_add_test)
    cmake_parse_arguments(T "NETWORK" "NAME" "SOURCES" ${ARGN})
    add_executable(${T_NAME} ${T_SOURCES})
    target_link_libraries(${T_NAME} PRIVATE kalvora_core kalvora_testsupport Qt6::Test)
    add_test(NAME ${T_NAME} COMMAND ${T_NAME})
    # A test function that hangs ends itself before CTest's timeout, and
    # QtTest then prints every thread's stack (through gdb) with its failure.
    set(env "QT_QPA_PLATFORM=offscreen" "KALVORA_NONINTERACTIVE=1" "QT_LOGGING_RULES=qt.multimedia*=false"
        "QTEST_FUNCTION_TIMEOUT=240000")
    set_tests_properties(${T_NAME} PROPERTIES ENVIRONMENT "${env}" TIMEOUT 300)
    if(T_NETWORK)
        set_tests_properties(${T_NAME} PROPERTIES LABELS network SKIP_RETURN_CODE 77)
    endif()
endfunction()

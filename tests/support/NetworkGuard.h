#pragma once

#include <QString>

namespace kalvora::test {

// True when this process sees no network interface but loopback, as inside the
// private network namespace that the test runner creates. Tests that open
// sockets, or build a console (which broadcasts its ping), run only then.
bool inPrivateNetwork();

// Why networked tests are skipped here, for QSKIP.
QString privateNetworkSkipReason();

} // namespace kalvora::test

// Skips the current test (or, from initTestCase, the whole test case) unless the
// process runs inside a private network namespace.
#define KALVORA_REQUIRE_PRIVATE_NETWORK()                                                          \
    do {                                                                                           \
        if (!kalvora::test::inPrivateNetwork())                                                    \
            QSKIP(qPrintable(kalvora::test::privateNetworkSkipReason()));                          \
    } while (false)

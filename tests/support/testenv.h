#pragma once

#include <QString>

// Facts about the environment a test runs in (see tests/run-isolated).
namespace varno::test {

// The temporary directory of this test run (HOME and XDG dirs live below).
QString tempRoot();
// The installation directory the program uses during the test.
QString installDir();
// The build and source trees, for programs and data the tests need.
QString buildDir();
QString sourceDir();

// What the program has written to its log file so far.
QByteArray logText();

// A free TCP port on 127.0.0.1 (bound, read and released).
quint16 freeLoopbackPort();

} // namespace varno::test

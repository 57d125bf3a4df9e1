#pragma once

#include <QString>

#include <vector>

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

// The value at fraction p (0 ... 1) of the sorted values, nearest rank; 0
// for none. For the figures benchmarks print.
double percentile(std::vector<double> values, double p);

} // namespace varno::test

#pragma once

#include <QString>

namespace fis::test {

// The folder of the project's programs: FIS_BIN_DIR, else the folder of the running program
// (the tests and the benchmarks are built beside the programs).
QString binDir();
// The folder of the project's shared libraries and packages: FIS_LIB_DIR, else lib/ beside
// binDir().
QString libDir();
// The fis11000-server executable in binDir().
QString serverBinary();

// A loopback port nobody listens on.
int deadPort();

} // namespace fis::test

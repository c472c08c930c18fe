#pragma once

// The package Pkg_Fis11000 ("Compra LEGAL - BA"). `IniProc` keeps the plain name under which the
// host calls it; the other exported names come from the units.

#include "export_screen/cli_fis11000.h"
#include "filter_dialog/cli_fis11001.h"

extern "C" {
// The host's entry point: opens the export screen. Any error raised while opening it passes to
// the host unchanged.
PKG_FIS11000_EXPORT void IniProc();
}

#include "package/pkg_fis11000.h"

void IniProc()
{
    CriaCompraLEGAL();
}

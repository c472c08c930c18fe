#pragma once

#include "hostfw/widgets/useraction.h"

namespace fis {

// Shows the hourglass for the lifetime of the scope and puts the default cursor back on every
// way out, a failed window creation included: an error passed on to the host must not leave the
// whole application under an hourglass.
class WaitCursorScope
{
public:
    WaitCursorScope() { setScreenCursor(Qt::WaitCursor); }
    ~WaitCursorScope() { setScreenCursor(Qt::ArrowCursor); }
    WaitCursorScope(const WaitCursorScope &) = delete;
    WaitCursorScope &operator=(const WaitCursorScope &) = delete;
};

} // namespace fis

#pragma once

// Internal: one override cursor for the framework, shared by the screen cursor of the forms and
// the wait indicator.

namespace fis::detail {

void setWaitCursorActive(bool active);

} // namespace fis::detail

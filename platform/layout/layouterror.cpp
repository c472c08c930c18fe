#include "layouterror.h"

namespace fis {

LayoutError::LayoutError(const QString &message)
    : Error(Kind::Data, message)
{}

} // namespace fis

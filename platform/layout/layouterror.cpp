#include "layouterror.h"

namespace fis {

LayoutError::LayoutError(const QString &message)
    : std::runtime_error(message.toStdString())
    , m_message(message)
{}

} // namespace fis

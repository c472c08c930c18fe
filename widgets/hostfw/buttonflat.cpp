#include "hostfw/widgets/buttonflat.h"

namespace fis {

TButtonFlat::TButtonFlat(QWidget *parent)
    : QToolButton(parent)
{
    setFocusPolicy(Qt::NoFocus);
    setAutoRaise(true);
    setToolButtonStyle(Qt::ToolButtonIconOnly);
    setIconSize(QSize(24, 24));
}

TButtonFlat::TButtonFlat(const QString &name, const QString &hint, QWidget *parent)
    : TButtonFlat(parent)
{
    setObjectName(name);
    setToolTip(hint);
    setText(hint);
}

} // namespace fis

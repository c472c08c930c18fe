#pragma once

// `TButtonFlat` keeps the name under which the screen modules use the host's flat button;
// everything else follows the Qt naming of the project.

#include <QToolButton>

namespace fis {

// A flat tool button that never takes the focus: clicking it leaves the focus in the field where
// it was, so no exit handler runs before the click's handler. The hint is the tool tip.
class TButtonFlat : public QToolButton
{
    Q_OBJECT
public:
    explicit TButtonFlat(QWidget *parent = nullptr);
    TButtonFlat(const QString &name, const QString &hint, QWidget *parent = nullptr);

    QString hint() const { return toolTip(); }
    void setHint(const QString &hint) { setToolTip(hint); }
};

} // namespace fis

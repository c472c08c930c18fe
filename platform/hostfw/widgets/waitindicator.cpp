#include "hostfw/widgets/waitindicator.h"

#include "hostfw/widgets/cursorcontrol_p.h"

#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QPointer>
#include <QScreen>
#include <QVBoxLayout>
#include <QWindow>

namespace fis {

namespace {

class WaitWindow : public QFrame
{
public:
    explicit WaitWindow(QWidget *owner)
        : QFrame(owner, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                            Qt::WindowDoesNotAcceptFocus)
    {
        setObjectName(QStringLiteral("fisWaitIndicator"));
        setAttribute(Qt::WA_ShowWithoutActivating);
        setFrameStyle(QFrame::Panel | QFrame::Raised);
        setLineWidth(2);
        setAutoFillBackground(true);
        m_text = new QLabel(this);
        m_text->setObjectName(QStringLiteral("waitText"));
        m_text->setAlignment(Qt::AlignCenter);
        QFont bold = m_text->font();
        bold.setBold(true);
        m_text->setFont(bold);
        m_detail = new QLabel(this);
        m_detail->setObjectName(QStringLiteral("waitDetail"));
        m_detail->setAlignment(Qt::AlignCenter);
        m_detail->hide();
        auto *layout = new QVBoxLayout(this);
        layout->setContentsMargins(24, 16, 24, 16);
        layout->addWidget(m_text);
        layout->addWidget(m_detail);
        setMinimumWidth(280);
    }

    QLabel *m_text;
    QLabel *m_detail;
};

QPointer<WaitWindow> g_window;
bool g_shown = false;

QRect areaFor(QWidget *form)
{
    if (form && form->isVisible())
        return QRect(form->mapToGlobal(QPoint(0, 0)), form->size());
    if (QWidget *active = QApplication::activeWindow())
        return active->frameGeometry();
    if (QScreen *screen = QGuiApplication::primaryScreen())
        return screen->availableGeometry();
    return QRect(0, 0, 800, 600);
}

// Paints the window now: the caller is about to block the event loop. Only window-system and
// posted events are handled here, never the user's input.
void paintNow(QWidget *window)
{
    const QPoint centre = window->geometry().center();
    window->adjustSize();
    QRect geometry = window->geometry();
    geometry.moveCenter(centre);
    window->setGeometry(geometry);
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    window->repaint();
}

} // namespace

void ActiveShowAvi(QWidget *form, int kind, const QString &text)
{
    Q_UNUSED(kind)
    QWidget *owner = form ? form->window() : QApplication::activeWindow();
    if (g_window && g_window->parentWidget() != owner) {
        g_window->hide();
        g_window->deleteLater();
        g_window = nullptr;
    }
    if (!g_window)
        g_window = new WaitWindow(owner);
    g_window->m_text->setText(text);
    g_window->m_detail->clear();
    g_window->m_detail->hide();
    g_window->adjustSize();
    QRect geometry(QPoint(0, 0), g_window->size());
    geometry.moveCenter(areaFor(form).center());
    g_window->setGeometry(geometry);
    g_window->show();
    g_window->raise();
    if (!g_shown) {
        g_shown = true;
        detail::setWaitCursorActive(true);
    }
    paintNow(g_window);
}

void DeactiveShowAvi()
{
    if (g_window)
        g_window->hide();
    if (g_shown) {
        g_shown = false;
        detail::setWaitCursorActive(false);
    }
}

void setWaitDetail(const QString &text)
{
    if (!g_shown || !g_window)
        return;
    g_window->m_detail->setText(text);
    g_window->m_detail->setVisible(!text.isEmpty());
    paintNow(g_window);
}

bool isWaitIndicatorShown()
{
    return g_shown && g_window && g_window->isVisible();
}

QWidget *waitIndicatorWindow()
{
    return isWaitIndicatorShown() ? g_window.data() : nullptr;
}

} // namespace fis

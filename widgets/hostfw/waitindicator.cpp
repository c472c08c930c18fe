#include "hostfw/widgets/waitindicator.h"

#include "hostfw/widgets/cursorcontrol_p.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QFrame>
#include <QImage>
#include <QLabel>
#include <QPointer>
#include <QScreen>
#include <QThread>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>

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
        // The detail line's room is there from the start: a window that grows while shown must
        // wait for the window manager to resize it, and may be painted at its old size.
        m_detail->setMinimumHeight(m_detail->fontMetrics().height());
        auto *layout = new QVBoxLayout(this);
        layout->setContentsMargins(24, 16, 24, 16);
        layout->addWidget(m_text);
        layout->addWidget(m_detail);
    }

    // Room for `text` and for a detail line of some 64 characters (or `detail`, if longer).
    QSize sizeFor(const QString &text, const QString &detail) const
    {
        const int inner = std::max({240, m_text->fontMetrics().horizontalAdvance(text),
                                    m_detail->fontMetrics().averageCharWidth() * 64,
                                    m_detail->fontMetrics().horizontalAdvance(detail)});
        const QMargins margins = layout()->contentsMargins();
        return QSize(inner + margins.left() + margins.right() + 2 * frameWidth(),
                     layout()->sizeHint().height());
    }

    // Gives the window its size for `text` and `detail`, centred where it was; nothing when the
    // size is already right.
    void fit(const QString &text, const QString &detail)
    {
        const QSize wanted = sizeFor(text, detail);
        if (size() == wanted)
            return;
        QRect geometry(QPoint(0, 0), wanted);
        geometry.moveCenter(this->geometry().center());
        setFixedSize(wanted);
        setGeometry(geometry);
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

// Whether two images of one size differ in at most one pixel in a hundred.
bool looksAlike(const QImage &a, const QImage &b)
{
    if (a.size() != b.size() || a.isNull())
        return false;
    const QImage x = a.convertToFormat(QImage::Format_RGB32);
    const QImage y = b.convertToFormat(QImage::Format_RGB32);
    qint64 differing = 0;
    for (int row = 0; row < x.height(); ++row) {
        const auto *p = reinterpret_cast<const QRgb *>(x.constScanLine(row));
        const auto *q = reinterpret_cast<const QRgb *>(y.constScanLine(row));
        for (int col = 0; col < x.width(); ++col)
            differing += (p[col] & RGB_MASK) != (q[col] & RGB_MASK);
    }
    return differing * 100 <= qint64(x.width()) * x.height();
}

// Under a compositing manager the window's pixels reach the screen only when the compositor
// next draws it, which it does in its own time: on X11, read back what the screen shows where
// the window is until it is the window's own picture (or a short while has passed, as when
// another window covers it). Other platforms cannot be read back this way; they draw at once.
void waitUntilOnScreen(QWidget *window)
{
    constexpr int kCompositorWaitMs = 300;
    if (QGuiApplication::platformName() != u"xcb")
        return;
    QScreen *screen = window->screen();
    if (!screen)
        return;
    const QImage painted = window->grab().toImage();
    const QRect area = window->geometry();
    const qreal ratio = painted.devicePixelRatio();
    const QDeadlineTimer deadline(kCompositorWaitMs);
    do {
        QImage shown =
            screen->grabWindow(0, area.x(), area.y(), area.width(), area.height()).toImage();
        if (shown.isNull())
            return;
        if (!qFuzzyCompare(shown.devicePixelRatio(), ratio))
            shown = shown.scaled(painted.size());
        if (looksAlike(shown, painted))
            return;
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        QThread::msleep(5);
    } while (!deadline.hasExpired());
}

// Paints the window now: the caller is about to block the event loop. Only window-system and
// posted events are handled here, never the user's input.
//
// A window just shown is not on the screen yet: the window manager maps it a little later, and
// what is painted before that is lost, leaving a blank or see-through rectangle for as long as
// the call blocks. So this waits (briefly) until the window is exposed, paints it, makes the
// window system take the pixels and, under a compositor, waits for it to show them.
void paintNow(QWidget *window)
{
    constexpr int kMapWaitMs = 1000;
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    if (const QWindow *handle = window->windowHandle()) {
        const QDeadlineTimer deadline(kMapWaitMs);
        while (!handle->isExposed() && !deadline.hasExpired()) {
            QGuiApplication::sync();
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
            if (!handle->isExposed())
                QThread::msleep(2);
        }
    }
    window->repaint();
    QGuiApplication::sync();
    waitUntilOnScreen(window);
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
    g_window->fit(text, QString());
    if (!g_window->isVisible()) {
        QRect geometry = g_window->geometry();
        geometry.moveCenter(areaFor(form).center());
        g_window->move(geometry.topLeft());
    }
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
    g_window->fit(g_window->m_text->text(), text);
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

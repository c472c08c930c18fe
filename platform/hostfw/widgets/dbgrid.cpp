#include "hostfw/widgets/dbgrid.h"

#include "dataset/datasource.h"
#include "dataset/memtable.h"
#include "dataset/tablemodel.h"
#include "hostfw/widgets/useraction.h"

#include <QAbstractItemDelegate>
#include <QFontDatabase>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QTimer>

namespace fis {

// The table's values, with the grid's titles and alignments.
class GridModel : public TableModel
{
public:
    explicit GridModel(DBGrid *grid)
        : TableModel(grid)
        , m_grid(grid)
    {}

    QVariant data(const QModelIndex &index, int role) const override
    {
        if (role != Qt::TextAlignmentRole)
            return TableModel::data(index, role);
        const int column = m_grid->columnOfSection(index.column());
        if (column >= 0) {
            const Qt::Alignment set = m_grid->m_columns.at(column).alignment;
            if (set & Qt::AlignHorizontal_Mask)
                return int((set & Qt::AlignHorizontal_Mask) | Qt::AlignVCenter);
        }
        MemTable *t = table();
        const bool number = t && index.column() < t->fieldCount() &&
                            t->field(index.column()).type == FieldType::Float;
        return int((number ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        const int column = orientation == Qt::Horizontal ? m_grid->columnOfSection(section) : -1;
        if (column < 0)
            return TableModel::headerData(section, orientation, role);
        const GridColumn &c = m_grid->m_columns.at(column);
        switch (role) {
        case Qt::DisplayRole:
            if (c.m_drawMark)
                return QString(); // the header draws the mark itself
            if (!c.title.isNull())
                return c.title;
            return TableModel::headerData(section, orientation, role);
        case Qt::FontRole:
            if (c.titleFont)
                return *c.titleFont;
            return {};
        case Qt::TextAlignmentRole:
            return int((c.titleAlignment & Qt::AlignHorizontal_Mask) | Qt::AlignVCenter);
        default:
            return TableModel::headerData(section, orientation, role);
        }
    }

private:
    DBGrid *m_grid;
};

// Paints every cell through the grid, which knows the current cell and the paint handler.
class GridDelegate : public QAbstractItemDelegate
{
public:
    explicit GridDelegate(DBGrid *grid)
        : QAbstractItemDelegate(grid)
        , m_grid(grid)
    {}

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override
    {
        m_grid->paintCell(*painter, option.rect, index);
    }

    QSize sizeHint(const QStyleOptionViewItem &, const QModelIndex &) const override
    {
        return {m_grid->horizontalHeader()->defaultSectionSize(),
                m_grid->verticalHeader()->defaultSectionSize()};
    }

private:
    DBGrid *m_grid;
};

// The title row: the model's titles, and the check mark where its symbol font is missing.
class GridHeader : public QHeaderView
{
public:
    explicit GridHeader(DBGrid *grid)
        : QHeaderView(Qt::Horizontal, grid)
        , m_grid(grid)
    {}

protected:
    void paintSection(QPainter *painter, const QRect &rect, int logicalIndex) const override
    {
        painter->save();
        QHeaderView::paintSection(painter, rect, logicalIndex);
        painter->restore();
        const int column = m_grid->columnOfSection(logicalIndex);
        if (column < 0 || !m_grid->m_columns.at(column).m_drawMark)
            return;
        // A heavy tick as tall as the title font's capitals, centred in the title cell.
        const QFontMetricsF metrics(m_grid->titleFontOf(m_grid->m_columns.at(column)));
        const qreal size = qMax<qreal>(8, metrics.ascent());
        QRectF box(0, 0, size, size);
        box.moveCenter(QRectF(rect).center());
        QPainterPath tick;
        tick.moveTo(box.left() + 0.08 * size, box.top() + 0.55 * size);
        tick.lineTo(box.left() + 0.38 * size, box.top() + 0.86 * size);
        tick.lineTo(box.left() + 0.92 * size, box.top() + 0.14 * size);
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setPen(QPen(palette().color(QPalette::ButtonText), qMax<qreal>(2, 0.22 * size),
                             Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter->setBrush(Qt::NoBrush);
        painter->drawPath(tick);
        painter->restore();
    }

private:
    DBGrid *m_grid;
};

GridColumn::GridColumn(const QString &field, int pixels, const QString &caption)
    : fieldName(field)
    , width(pixels)
    , title(caption)
{}

const FieldDef *GridColumn::field() const
{
    MemTable *t = m_grid ? m_grid->table() : nullptr;
    if (!t || m_fieldIndex < 0 || m_fieldIndex >= t->fieldCount())
        return nullptr;
    return &t->field(m_fieldIndex);
}

QVariant GridColumn::value() const
{
    MemTable *t = m_grid ? m_grid->table() : nullptr;
    if (!t || !t->isOpen() || m_fieldIndex < 0 || m_fieldIndex >= t->fieldCount())
        return {};
    const int row = m_grid->drawingRow() >= 0 ? m_grid->drawingRow() : t->currentRow();
    if (row < 0 || row >= t->recordCount())
        return {};
    return t->viewValue(row, m_fieldIndex);
}

QString GridColumn::displayText() const
{
    MemTable *t = m_grid ? m_grid->table() : nullptr;
    if (!t || !t->isOpen() || m_fieldIndex < 0 || m_fieldIndex >= t->fieldCount())
        return {};
    const int row = m_grid->drawingRow() >= 0 ? m_grid->drawingRow() : t->currentRow();
    if (row < 0 || row >= t->recordCount())
        return {};
    return t->displayText(row, m_fieldIndex);
}

DBGrid::DBGrid(QWidget *parent)
    : QTableView(parent)
    , m_model(new GridModel(this))
    , m_header(new GridHeader(this))
{
    // Connected before the view and its selection model connect theirs: while rows come and
    // go, the view moves its current cell by itself, and that must not move the table's cursor
    // in the middle of the table's own change.
    const auto busy = [this] {
        ++m_modelBusy;
    };
    connect(m_model, &QAbstractItemModel::modelAboutToBeReset, this, busy);
    connect(m_model, &QAbstractItemModel::rowsAboutToBeInserted, this, busy);
    connect(m_model, &QAbstractItemModel::rowsAboutToBeRemoved, this, busy);
    connect(m_model, &QAbstractItemModel::rowsAboutToBeMoved, this, busy);

    setHorizontalHeader(m_header);
    setModel(m_model);

    const auto done = [this] {
        m_modelBusy = qMax(0, m_modelBusy - 1);
        syncFromTable();
    };
    connect(m_model, &QAbstractItemModel::modelReset, this, [this] {
        m_modelBusy = qMax(0, m_modelBusy - 1);
        applyLayout();
        syncFromTable();
    });
    connect(m_model, &QAbstractItemModel::rowsInserted, this, done);
    connect(m_model, &QAbstractItemModel::rowsRemoved, this, done);
    connect(m_model, &QAbstractItemModel::rowsMoved, this, done);

    // A title click neither sorts, nor selects a column, nor moves the current cell. Turning
    // sorting off connects the column selection again: it goes first.
    setSortingEnabled(false);
    disconnect(m_header, &QHeaderView::sectionPressed, this, nullptr);
    disconnect(m_header, &QHeaderView::sectionEntered, this, nullptr);
    m_header->setSectionsClickable(true);
    m_header->setSectionsMovable(false);
    m_header->setHighlightSections(false);
    m_header->setSortIndicatorShown(false);
    m_header->setSectionResizeMode(QHeaderView::Interactive);
    m_header->setMinimumSectionSize(4); // narrow image columns keep their set width
    connect(m_header, &QHeaderView::sectionClicked, this, [this](int section) {
        const int column = columnOfSection(section);
        if (column >= 0 && onTitleClick)
            runAction(window(), [this, column] { onTitleClick(column); });
    });
    // A width the user drags becomes the column's width.
    connect(m_header, &QHeaderView::sectionResized, this, [this](int section, int, int size) {
        const int column = columnOfSection(section);
        if (!m_applying && column >= 0 && size > 0)
            m_columns[column].width = size;
    });

    // Uniform rows, never sized to their contents: a table of any size shows at once.
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setMinimumSectionSize(1);

    setItemDelegate(new GridDelegate(this));
    setEditTriggers(NoEditTriggers);
    // The current cell is the selection: the grid paints it, so no selection state can hide it.
    setSelectionMode(NoSelection);
    setSelectionBehavior(SelectItems);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    m_background = palette().color(QPalette::Active, QPalette::Base);
    setOptions(m_options);
    applyPalette();
}

DBGrid::~DBGrid() = default;

DataSource *DBGrid::dataSource() const
{
    return m_source;
}

void DBGrid::setDataSource(DataSource *source)
{
    if (m_source)
        disconnect(m_source, nullptr, this, nullptr);
    m_source = source;
    if (source) {
        connect(source, &DataSource::dataChange, this, [this] {
            if (m_source && m_source->table() != m_model->table())
                bindTable();
        });
    }
    bindTable();
}

MemTable *DBGrid::table() const
{
    return m_model->table();
}

void DBGrid::bindTable()
{
    MemTable *t = m_source ? m_source->table() : nullptr;
    if (t == m_model->table())
        return;
    if (MemTable *old = m_model->table())
        disconnect(old, nullptr, this, nullptr);
    m_model->setTable(t); // a reset: the layout and the current cell follow
    if (t)
        connect(t, &MemTable::currentRowChanged, this, [this] { syncFromTable(); });
}

const QList<GridColumn> &DBGrid::columns() const
{
    return m_columns;
}

void DBGrid::setColumns(const QList<GridColumn> &columns)
{
    m_columns = columns;
    // Looking fonts up is slow: once per configuration, not at every reload.
    const QStringList families = QFontDatabase::families();
    for (GridColumn &c : m_columns) {
        c.m_grid = this;
        c.m_drawMark = c.titleMark != GridColumn::TitleMark::None &&
                       !families.contains(titleFontOf(c).family(), Qt::CaseInsensitive);
    }
    applyLayout();
    syncFromTable();
}

const GridColumn &DBGrid::column(int index) const
{
    return m_columns.at(index);
}

int DBGrid::columnOfSection(int section) const
{
    return section >= 0 && section < m_columnOfSection.size() ? m_columnOfSection.at(section) : -1;
}

QList<int> DBGrid::shownSections() const
{
    QList<int> sections;
    for (int c = 0; c < m_columns.size(); ++c) {
        const int section = m_columns.at(c).m_fieldIndex;
        if (columnOfSection(section) == c)
            sections.append(section);
    }
    return sections;
}

QFont DBGrid::titleFontOf(const GridColumn &column) const
{
    return column.titleFont ? *column.titleFont : m_header->font();
}

int DBGrid::currentColumn() const
{
    const QModelIndex current = currentIndex();
    return current.isValid() ? columnOfSection(current.column()) : -1;
}

void DBGrid::setCurrentColumn(int column)
{
    if (column < 0 || column >= m_columns.size())
        return;
    const int section = m_columns.at(column).m_fieldIndex;
    if (columnOfSection(section) != column)
        return;
    m_lastSection = section;
    const QModelIndex current = currentIndex();
    if (current.isValid())
        setCurrentIndex(m_model->index(current.row(), section));
}

int DBGrid::defaultWidth(const GridColumn &column) const
{
    MemTable *t = table();
    const int index = t ? t->fieldIndex(column.fieldName) : -1;
    const FieldDef *f = index >= 0 ? &t->field(index) : nullptr;
    // Display widths in characters, as the classic fields declare them.
    int characters = 10;
    if (f && f->isText())
        characters = f->size;
    else if (f && f->type == FieldType::DateTime)
        characters = 18;
    const int cell = characters * fontMetrics().averageCharWidth() + 4;

    const QFontMetrics titleMetrics(titleFontOf(column));
    const int margins = 2 * style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, m_header) + 4;
    int titleWidth;
    if (column.m_drawMark) {
        titleWidth = qMax(8, titleMetrics.ascent()) + margins;
    } else {
        const QString text = !column.title.isNull() ? column.title
                             : f                    ? f->displayLabel()
                                                    : column.fieldName;
        titleWidth = titleMetrics.horizontalAdvance(text) + margins;
    }
    return qMax(cell, titleWidth);
}

QRect DBGrid::cellRect(int row, int column) const
{
    if (column < 0 || column >= m_columns.size())
        return {};
    const int section = m_columns.at(column).m_fieldIndex;
    if (columnOfSection(section) != column)
        return {};
    return visualRect(m_model->index(row, section));
}

QRect DBGrid::titleRect(int column) const
{
    if (column < 0 || column >= m_columns.size())
        return {};
    const int section = m_columns.at(column).m_fieldIndex;
    if (columnOfSection(section) != column)
        return {};
    return {m_header->sectionViewportPosition(section), 0, m_header->sectionSize(section),
            m_header->height()};
}

DBGrid::Options DBGrid::options() const
{
    return m_options;
}

void DBGrid::setOptions(Options options)
{
    m_options = options;
    m_header->setVisible(options.testFlag(Option::Titles));
    setShowGrid(options.testFlag(Option::GridLines));
    setTabKeyNavigation(options.testFlag(Option::Tabs));
    applyRowHeight();
    viewport()->update();
}

QColor DBGrid::backgroundColor() const
{
    return m_background;
}

void DBGrid::setBackgroundColor(const QColor &color)
{
    m_background = color;
    applyPalette();
    viewport()->update();
}

void DBGrid::setBorder(bool border)
{
    setFrameStyle(border ? QFrame::StyledPanel | QFrame::Sunken : QFrame::NoFrame);
}

QFont DBGrid::titleFont() const
{
    return m_header->font();
}

void DBGrid::setTitleFont(const QFont &font)
{
    m_header->setFont(font);
    setColumns(m_columns); // the marks and the default widths depend on it
}

void DBGrid::applyPalette()
{
    // The current cell keeps the active highlight when the focus is elsewhere.
    QPalette p = palette();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        p.setColor(group, QPalette::Base, m_background);
        p.setColor(group, QPalette::Highlight, p.color(QPalette::Active, QPalette::Highlight));
        p.setColor(group, QPalette::HighlightedText,
                   p.color(QPalette::Active, QPalette::HighlightedText));
    }
    setPalette(p);
}

void DBGrid::applyRowHeight()
{
    const int gridLine = showGrid() ? 1 : 0;
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4 + gridLine);
}

void DBGrid::applyLayout()
{
    m_applying = true;
    const int sections = m_model->columnCount();
    MemTable *t = table();
    m_columnOfSection = QList<int>(sections, -1);
    QList<int> order;
    for (int c = 0; c < m_columns.size(); ++c) {
        GridColumn &column = m_columns[c];
        int section = t ? t->fieldIndex(column.fieldName) : -1;
        // A field is shown in one column at most.
        if (section >= sections || (section >= 0 && m_columnOfSection.at(section) >= 0))
            section = -1;
        column.m_fieldIndex = section;
        if (section >= 0) {
            m_columnOfSection[section] = c;
            order.append(section);
        }
    }
    for (int visual = 0; visual < order.size(); ++visual) {
        const int from = m_header->visualIndex(order.at(visual));
        if (from != visual)
            m_header->moveSection(from, visual);
    }
    for (int section = 0; section < sections; ++section)
        m_header->setSectionHidden(section, m_columnOfSection.at(section) < 0);
    for (int section : std::as_const(order)) {
        const GridColumn &column = m_columns.at(m_columnOfSection.at(section));
        m_header->resizeSection(section, column.width > 0 ? column.width : defaultWidth(column));
    }
    m_applying = false;
}

void DBGrid::syncFromTable()
{
    if (m_updateLock > 0 || m_modelBusy > 0) {
        m_syncPending = true;
        return;
    }
    m_syncPending = false;
    MemTable *t = table();
    const int row = t ? t->currentRow() : -1;
    if (row < 0 || row >= m_model->rowCount())
        return;
    const QModelIndex current = currentIndex();
    int section = current.isValid() ? current.column() : m_lastSection;
    if (columnOfSection(section) < 0) {
        const QList<int> shown = shownSections();
        if (shown.isEmpty())
            return;
        section = shown.first();
    }
    const QModelIndex target = m_model->index(row, section);
    if (target == current)
        return;
    m_syncing = true;
    setCurrentIndex(target);
    m_syncing = false;
}

void DBGrid::currentChanged(const QModelIndex &current, const QModelIndex &previous)
{
    QTableView::currentChanged(current, previous);
    if (current.isValid())
        m_lastSection = current.column();
    if (m_syncing || m_modelBusy > 0 || !current.isValid())
        return;
    MemTable *t = table();
    if (!t || !t->isOpen() || current.row() == t->currentRow())
        return;
    const int row = current.row();
    if (!runAction(window(), [t, row] { t->moveTo(row); }))
        syncFromTable(); // the cursor could not leave its row: neither does the grid
}

void DBGrid::beginUpdate()
{
    if (m_updateLock++ == 0)
        setUpdatesEnabled(false);
}

void DBGrid::endUpdate()
{
    if (m_updateLock == 0 || --m_updateLock > 0)
        return;
    setUpdatesEnabled(true);
    syncFromTable();
    viewport()->update();
}

void DBGrid::paintCell(QPainter &painter, const QRect &rect, const QModelIndex &index)
{
    const bool current = index == currentIndex();
    const bool focused = current && hasFocus();
    const bool highlighted =
        current && (focused || m_options.testFlag(Option::AlwaysShowSelection));
    const QPalette &pal = palette();
    const QColor back =
        highlighted ? pal.color(QPalette::Active, QPalette::Highlight) : m_background;
    const QColor fore = highlighted ? pal.color(QPalette::Active, QPalette::HighlightedText)
                                    : pal.color(QPalette::Active, QPalette::Text);
    painter.save();
    painter.fillRect(rect, back);
    const QString text = m_model->data(index, Qt::DisplayRole).toString();
    if (!text.isEmpty()) {
        painter.setPen(fore);
        painter.setFont(font());
        const int align = m_model->data(index, Qt::TextAlignmentRole).toInt();
        painter.drawText(rect.adjusted(2, 0, -2, 0), align | Qt::TextSingleLine, text);
    }
    const int column = columnOfSection(index.column());
    if (onDrawColumnCell && column >= 0) {
        DrawState state;
        state.setFlag(DrawStateFlag::Selected, highlighted);
        state.setFlag(DrawStateFlag::Focused, focused);
        painter.setClipRect(rect, Qt::IntersectClip);
        painter.setBrush(back);
        painter.setPen(fore);
        m_drawingRow = index.row();
        try {
            onDrawColumnCell(painter, rect, column, m_columns.at(column), state);
        } catch (...) {
            reportPaintError(std::current_exception());
        }
        m_drawingRow = -1;
    }
    painter.restore();
}

void DBGrid::reportPaintError(std::exception_ptr error)
{
    // Shown once the paint is over: a message window inside a paint event would repaint the
    // grid under a painter that is still active.
    if (m_paintErrorPending)
        return;
    m_paintErrorPending = true;
    QTimer::singleShot(0, this, [this, error] {
        m_paintErrorPending = false;
        runAction(window(), [error] { std::rethrow_exception(error); });
    });
}

bool DBGrid::event(QEvent *event)
{
    if (event->type() != QEvent::KeyPress || !onKeyDown)
        return QTableView::event(event);
    auto *keyEvent = static_cast<QKeyEvent *>(event);
    const int original = keyEvent->key();
    const Qt::KeyboardModifiers modifiers = keyEvent->modifiers();
    int key = original;
    const bool completed = runAction(window(), [&] { onKeyDown(key, modifiers); });
    if (!completed || key == 0) {
        event->accept();
        return true;
    }
    if (key == original)
        return QTableView::event(event);
    QKeyEvent replaced(QEvent::KeyPress, key, modifiers, QString(), keyEvent->isAutoRepeat());
    const bool handled = QTableView::event(&replaced);
    event->setAccepted(replaced.isAccepted());
    return handled;
}

void DBGrid::changeEvent(QEvent *event)
{
    QTableView::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        applyRowHeight();
        applyLayout();
    }
}

void DBGrid::mousePressEvent(QMouseEvent *event)
{
    const QModelIndex index = indexAt(event->position().toPoint());
    QTableView::mousePressEvent(event);
    m_pressed =
        event->button() == Qt::LeftButton ? QPersistentModelIndex(index) : QPersistentModelIndex();
}

void DBGrid::mouseDoubleClickEvent(QMouseEvent *event)
{
    // The second click of a double click is a click of its own, as in the classic grid.
    mousePressEvent(event);
}

void DBGrid::mouseReleaseEvent(QMouseEvent *event)
{
    const QModelIndex index = indexAt(event->position().toPoint());
    QTableView::mouseReleaseEvent(event);
    const QPersistentModelIndex pressed = m_pressed;
    m_pressed = QPersistentModelIndex();
    if (event->button() != Qt::LeftButton || !index.isValid() || index != pressed ||
        index != currentIndex() || !onCellClick)
        return;
    MemTable *t = table();
    const int column = columnOfSection(index.column());
    // The click counts once its row is the table's current one (a refused move is no click).
    if (column >= 0 && t && t->currentRow() == index.row())
        runAction(window(), [this, column] { onCellClick(column); });
}

QModelIndex DBGrid::moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers)
{
    if (cursorAction != MoveNext && cursorAction != MovePrevious)
        return QTableView::moveCursor(cursorAction, modifiers);
    const QModelIndex current = currentIndex();
    const QList<int> shown = shownSections();
    const int rows = m_model->rowCount();
    if (shown.isEmpty() || rows == 0)
        return current;
    if (!current.isValid())
        return m_model->index(0, shown.first());
    int position = qMax(0, shown.indexOf(current.column()));
    int row = current.row();
    if (cursorAction == MoveNext) {
        if (position + 1 < shown.size()) {
            ++position;
        } else {
            position = 0;
            row = qMin(row + 1, rows - 1);
        }
    } else if (position > 0) {
        --position;
    } else {
        position = shown.size() - 1;
        row = qMax(row - 1, 0);
    }
    return m_model->index(row, shown.at(position));
}

void DBGrid::keyboardSearch(const QString &)
{}

DBGridUpdateGuard::DBGridUpdateGuard(DBGrid &grid, MemTable *table)
    : m_grid(grid)
    , m_table(table)
{
    m_grid.beginUpdate();
    if (table)
        table->disableControls();
}

DBGridUpdateGuard::~DBGridUpdateGuard()
{
    if (m_table)
        m_table->enableControls();
    m_grid.endUpdate();
}

} // namespace fis

#include "hostfw/widgets/datagrid.h"

#include "dataset/datasource.h"
#include "dataset/memtable.h"
#include "dataset/tablemodel.h"
#include "hostfw/widgets/useraction.h"

#include <QHeaderView>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyledItemDelegate>

#include <algorithm>
#include <vector>

namespace fis {

namespace {

// A header section keeps a margin at each side of its title (4 pixels in the styles Qt ships),
// and a cell one at each side of its text.
constexpr int kCellPadding = 8;
// Display widths, in characters, of the fields that have no size of their own.
constexpr int kFloatChars = 12;
constexpr int kDateTimeChars = 18;

class GridHeader : public QHeaderView
{
public:
    GridHeader(DataGrid *grid)
        : QHeaderView(Qt::Horizontal, grid)
        , m_grid(grid)
    {}

protected:
    void paintSection(QPainter *painter, const QRect &rect, int logicalIndex) const override
    {
        if (!rect.isValid())
            return;
        QStyleOptionHeader option;
        initStyleOption(&option);
        option.rect = rect;
        option.section = logicalIndex;
        option.state |= QStyle::State_Raised;
        if (isEnabled())
            option.state |= QStyle::State_Enabled;
        style()->drawControl(QStyle::CE_HeaderSection, &option, painter, this);

        int column = -1;
        for (int c = 0; c < m_grid->columnCountShown(); ++c) {
            if (m_grid->fieldIndexOf(c) == logicalIndex)
                column = c;
        }
        if (column < 0)
            return;
        const DataGridColumn &config = m_grid->columns().at(column);
        const QRect inner = rect.adjusted(2, 1, -2, -1);
        painter->save();
        painter->setClipRect(rect);
        if (config.titlePainter) {
            config.titlePainter(*painter, inner);
        } else {
            painter->setFont(config.titleFontSet ? config.titleFont : font());
            painter->setPen(palette().color(QPalette::WindowText));
            painter->drawText(inner, int(config.titleAlignment), config.title);
        }
        painter->restore();
    }

private:
    DataGrid *m_grid;
};

} // namespace

// Paints the cell the usual way, then hands it to the grid's onDrawColumnCell.
class DataGridDelegate : public QStyledItemDelegate
{
public:
    explicit DataGridDelegate(DataGrid *grid)
        : QStyledItemDelegate(grid)
        , m_grid(grid)
    {}

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override
    {
        QStyledItemDelegate::paint(painter, option, index);
        if (!m_grid->onDrawColumnCell)
            return;
        const bool selected = option.state.testFlag(QStyle::State_Selected);
        DataGrid::DrawState state;
        if (selected)
            state |= DataGrid::Selected;
        if (option.state.testFlag(QStyle::State_HasFocus))
            state |= DataGrid::Focused;
        const QColor brush = selected ? option.palette.color(QPalette::Active, QPalette::Highlight)
                                      : m_grid->backgroundColor();
        const int column = m_grid->visualColumn(index.column());
        painter->save();
        painter->setBrush(brush);
        painter->setPen(Qt::NoPen);
        QPainter &canvas = *painter;
        const QRect rect = option.rect;
        m_grid->m_drawingRow = index.row();
        runAction(m_grid,
                  [&] { m_grid->onDrawColumnCell(canvas, rect, index.column(), column, state); });
        m_grid->m_drawingRow = -1;
        painter->restore();
    }

private:
    DataGrid *m_grid;
};

DataGrid::DataGrid(QWidget *parent)
    : QTableView(parent)
    , m_model(new TableModel(this))
    , m_background(palette().color(QPalette::Base))
{
    setHorizontalHeader(new GridHeader(this));
    setModel(m_model);
    setItemDelegate(new DataGridDelegate(this));
    verticalHeader()->hide();
    // One height for every row: the header never measures the rows.
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    horizontalHeader()->setSectionsClickable(true);
    horizontalHeader()->setSectionsMovable(false);
    horizontalHeader()->setSortIndicatorShown(false);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    // Narrow columns (a 25-pixel status column) keep their configured width.
    horizontalHeader()->setMinimumSectionSize(4);
    setSortingEnabled(false);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setTabKeyNavigation(true);
    setShowGrid(true);
    setWordWrap(false);
    // Texts wider than their column are cut, as the classic grids do, not elided.
    setTextElideMode(Qt::ElideNone);
    setCornerButtonEnabled(false);

    // The current cell keeps its highlight while another control has the focus.
    QPalette pal = palette();
    pal.setColor(QPalette::Inactive, QPalette::Highlight,
                 pal.color(QPalette::Active, QPalette::Highlight));
    pal.setColor(QPalette::Inactive, QPalette::HighlightedText,
                 pal.color(QPalette::Active, QPalette::HighlightedText));
    setPalette(pal);

    connect(horizontalHeader(), &QHeaderView::sectionClicked, this, &DataGrid::titleClicked);
    // A reset (load, close, controls resumed) forgets the header's layout and the current cell.
    // The rows are laid out again at once rather than by the view's deferred layout, whose
    // repaint of the whole grid would otherwise come with whatever the user does next (the
    // next Space would repaint every row instead of its mark).
    connect(m_model, &QAbstractItemModel::modelReset, this, [this] {
        applyColumns();
        followTable();
        executeDelayedItemsLayout();
    });
}

DataGrid::~DataGrid() = default;

MemTable *DataGrid::table() const
{
    return m_source ? m_source->table() : nullptr;
}

void DataGrid::setDataSource(DataSource *source)
{
    if (MemTable *old = table())
        disconnect(old, nullptr, this, nullptr);
    m_source = source;
    MemTable *t = table();
    m_model->setTable(t);
    if (t)
        connect(t, &MemTable::currentRowChanged, this, &DataGrid::followTable);
    applyColumns();
    followTable();
}

void DataGrid::setColumns(const QList<DataGridColumn> &columns)
{
    m_columns = columns;
    applyColumns();
}

int DataGrid::fieldIndexOf(int column) const
{
    return column >= 0 && column < m_fieldOfColumn.size() ? m_fieldOfColumn.at(column) : -1;
}

int DataGrid::columnOfField(const QString &fieldName) const
{
    for (int c = 0; c < m_columns.size(); ++c) {
        if (m_columns.at(c).fieldName.compare(fieldName, Qt::CaseInsensitive) == 0)
            return c;
    }
    return -1;
}

int DataGrid::visualColumn(int logicalIndex) const
{
    return logicalIndex < 0 ? -1 : int(m_fieldOfColumn.indexOf(logicalIndex));
}

int DataGrid::defaultWidth(const DataGridColumn &column, int fieldIndex) const
{
    int chars = 10;
    if (MemTable *t = table()) {
        const FieldDef &field = t->field(fieldIndex);
        switch (field.type) {
        case FieldType::String:
        case FieldType::FixedString:
            chars = field.size;
            break;
        case FieldType::Float:
            chars = kFloatChars;
            break;
        case FieldType::DateTime:
            chars = kDateTimeChars;
            break;
        }
    }
    // Codes and numbers are digits, wider than the font's average character.
    const QFontMetrics metrics = fontMetrics();
    const int charWidth = std::max(metrics.averageCharWidth(), metrics.horizontalAdvance(u'0'));
    const int dataWidth = chars * charWidth;
    const QFontMetrics titleMetrics(column.titleFontSet ? column.titleFont
                                                        : horizontalHeader()->font());
    const int title = titleMetrics.horizontalAdvance(column.title);
    return std::max(dataWidth, title) + kCellPadding;
}

void DataGrid::applyColumns()
{
    m_fieldOfColumn.clear();
    MemTable *t = table();
    QHeaderView *header = horizontalHeader();
    const int sections = m_model->columnCount();
    // Only what differs is changed: a section hidden, moved or resized repaints the columns from
    // it on later, and a reload of the same list leaves them all as they are.
    std::vector<bool> shown(size_t(std::max(sections, 0)), false);
    int titleHeight = QFontMetrics(header->font()).height();
    for (int c = 0; c < m_columns.size(); ++c) {
        DataGridColumn &column = m_columns[c];
        const int field = t ? t->fieldIndex(column.fieldName) : -1;
        m_fieldOfColumn.append(field);
        if (column.title.isEmpty() && t && field >= 0)
            column.title = t->field(field).displayLabel();
        if (column.titleFontSet)
            titleHeight = std::max(titleHeight, QFontMetrics(column.titleFont).height());
        if (field >= 0 && field < sections)
            shown[size_t(field)] = true;
    }
    for (int s = 0; s < sections; ++s) {
        if (header->isSectionHidden(s) == shown[size_t(s)])
            header->setSectionHidden(s, !shown[size_t(s)]);
    }
    for (int c = 0; c < m_columns.size(); ++c) {
        const int field = m_fieldOfColumn.at(c);
        if (field < 0 || field >= sections)
            continue;
        if (header->visualIndex(field) != c)
            header->moveSection(header->visualIndex(field), c);
        const DataGridColumn &column = m_columns.at(c);
        const int width = column.width >= 0 ? column.width : defaultWidth(column, field);
        if (header->sectionSize(field) != width)
            header->resizeSection(field, width);
    }
    if (header->height() != titleHeight + 6 || header->minimumHeight() != titleHeight + 6)
        header->setFixedHeight(titleHeight + 6);
}

void DataGrid::followTable()
{
    MemTable *t = table();
    if (!t || !selectionModel() || t->controlsDisabled())
        return;
    const int row = t->currentRow();
    m_syncing = true;
    if (row < 0 || row >= m_model->rowCount()) {
        selectionModel()->clear();
    } else {
        int field = fieldIndexOf(std::clamp(m_lastColumn, 0, int(m_columns.size()) - 1));
        if (field < 0)
            field = 0;
        const QModelIndex index = m_model->index(row, field);
        selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
        if (!updating())
            scrollTo(index);
    }
    m_syncing = false;
}

void DataGrid::currentChanged(const QModelIndex &current, const QModelIndex &previous)
{
    QTableView::currentChanged(current, previous);
    if (current.isValid() && visualColumn(current.column()) >= 0)
        m_lastColumn = visualColumn(current.column());
    MemTable *t = table();
    if (m_syncing || !current.isValid() || !t || !t->isOpen() || t->controlsDisabled() ||
        current.row() == t->currentRow())
        return;
    const int row = current.row();
    // Leaving a row posts its pending edit; when that fails the cursor stays where it was.
    if (!runAction(this, [t, row] { t->moveTo(row); }))
        followTable();
}

int DataGrid::currentColumn() const
{
    const QModelIndex index = currentIndex();
    return index.isValid() ? visualColumn(index.column()) : -1;
}

void DataGrid::setBackgroundColor(const QColor &color)
{
    m_background = color;
    QPalette pal = palette();
    pal.setColor(QPalette::Base, color);
    setPalette(pal);
}

void DataGrid::beginUpdate()
{
    if (m_updateDepth++ == 0) {
        viewport()->setUpdatesEnabled(false);
        horizontalHeader()->viewport()->setUpdatesEnabled(false);
    }
}

void DataGrid::endUpdate()
{
    if (m_updateDepth == 0 || --m_updateDepth > 0)
        return;
    viewport()->setUpdatesEnabled(true);
    horizontalHeader()->viewport()->setUpdatesEnabled(true);
    viewport()->update();
    horizontalHeader()->viewport()->update();
}

QRect DataGrid::cellRect(int row, int column) const
{
    const int field = fieldIndexOf(column);
    if (field < 0)
        return {};
    return visualRect(m_model->index(row, field));
}

QRect DataGrid::titleRect(int column) const
{
    const int field = fieldIndexOf(column);
    if (field < 0)
        return {};
    const QHeaderView *header = horizontalHeader();
    return QRect(header->sectionViewportPosition(field), 0, header->sectionSize(field),
                 header->height());
}

void DataGrid::changeEvent(QEvent *event)
{
    QTableView::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
}

void DataGrid::keyPressEvent(QKeyEvent *event)
{
    int key = event->key();
    if (onKeyDown)
        runAction(this, [&] { onKeyDown(key, event->modifiers()); });
    // A Space goes no further than the grid's own handler, as in any data grid that is not
    // editing: a plain view would start a keyboard search with it, moving the cursor to the next
    // row whose text begins with a blank (the following Space then marked that row) and reading
    // every row's text; Ctrl+Space would toggle the current cell's selection off, where the
    // grid's current cell is always the highlighted one.
    if (key == 0 || key == Qt::Key_Space) {
        event->accept();
        return;
    }
    QTableView::keyPressEvent(event);
}

void DataGrid::mousePressEvent(QMouseEvent *event)
{
    QTableView::mousePressEvent(event);
    m_pressed =
        event->button() == Qt::LeftButton ? indexAt(event->position().toPoint()) : QModelIndex();
}

void DataGrid::mouseReleaseEvent(QMouseEvent *event)
{
    QTableView::mouseReleaseEvent(event);
    const QModelIndex index = indexAt(event->position().toPoint());
    const bool clicked = event->button() == Qt::LeftButton && index.isValid() && index == m_pressed;
    m_pressed = QModelIndex();
    if (!clicked || !onCellClick)
        return;
    const int column = visualColumn(index.column());
    if (column >= 0)
        runAction(this, [this, column] { onCellClick(column); });
}

void DataGrid::titleClicked(int logicalIndex)
{
    const int column = visualColumn(logicalIndex);
    if (column >= 0 && onTitleClick)
        runAction(this, [this, column] { onTitleClick(column); });
}

void drawTransparent(QPainter &painter, const QPoint &topLeft, int height, const QImage &image,
                     const QColor &fill, const QColor &key)
{
    const int rows = std::min(height, image.height());
    if (rows <= 0 || image.width() <= 0)
        return;
    QImage copy = image.copy(0, 0, image.width(), rows).convertToFormat(QImage::Format_ARGB32);
    const QRgb keyRgb = key.rgb() & RGB_MASK;
    const QRgb fillRgb = fill.rgba();
    for (int y = 0; y < rows; ++y) {
        auto *line = reinterpret_cast<QRgb *>(copy.scanLine(y));
        for (int x = 0; x < copy.width(); ++x) {
            if ((line[x] & RGB_MASK) == keyRgb)
                line[x] = fillRgb;
        }
    }
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.drawImage(topLeft, copy);
    painter.restore();
}

} // namespace fis

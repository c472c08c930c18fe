#pragma once

#include "dataset/datasource.h"

#include <QColor>
#include <QFont>
#include <QList>
#include <QPointer>
#include <QString>
#include <QTableView>

#include <functional>

class QImage;

namespace fis {

class MemTable;
class TableModel;

// One column of a DataGrid: the field it shows and its title.
struct DataGridColumn
{
    QString fieldName;
    int width = -1;  // pixels; -1: from the field's display width and the title
    QString title;   // empty: the field's display label
    QFont titleFont; // used when titleFontSet
    bool titleFontSet = false;
    Qt::Alignment titleAlignment = Qt::AlignLeft | Qt::AlignVCenter;
    // Paints the title instead of the text (e.g. a symbol no installed font has); the rectangle
    // is the section inside its frame.
    std::function<void(QPainter &, const QRect &)> titlePainter;
};

// A grid over a table of a data source, in the role of the host's data grid: only the configured
// columns, in their order; a title row, no row indicator, no editing, one cell selected. Rows are
// read in place from the table; every row has the same height.
//
// The table's cursor and the grid's current row follow each other: a click or a cursor key moves
// the table's cursor (which posts a pending edit), and moving or loading the table moves the
// current row. A closed table shows no rows.
//
// The events run as user actions (runAction), so an error in a handler is shown, never thrown
// into the event loop. Column numbers in the events are 0-based positions among the configured
// columns.
class DataGrid : public QTableView
{
    Q_OBJECT
public:
    enum DrawStateFlag { Selected = 1, Focused = 2 };
    Q_DECLARE_FLAGS(DrawState, DrawStateFlag)

    explicit DataGrid(QWidget *parent = nullptr);
    ~DataGrid() override;

    DataSource *dataSource() const { return m_source; }
    void setDataSource(DataSource *source);
    MemTable *table() const;

    void setColumns(const QList<DataGridColumn> &columns);
    const QList<DataGridColumn> &columns() const { return m_columns; }
    int columnCountShown() const { return int(m_columns.size()); }
    // The table's field index shown by a column, -1 when the table lacks the field.
    int fieldIndexOf(int column) const;
    int columnOfField(const QString &fieldName) const; // -1 when not shown

    QColor backgroundColor() const { return m_background; }
    void setBackgroundColor(const QColor &color);
    // QFrame::NoFrame or any other shape of the grid's own frame.
    void setBorderShape(QFrame::Shape shape) { setFrameShape(shape); }

    // The current cell's column, -1 when none.
    int currentColumn() const;
    // The row whose cell onDrawColumnCell is painting (the role of the table's active record
    // while the grid paints), -1 outside it.
    int drawingRow() const { return m_drawingRow; }

    // Repainting suspended between the two; nested. The last endUpdate() repaints once.
    void beginUpdate();
    void endUpdate();
    bool updating() const { return m_updateDepth > 0; }

    // The rectangle of a data cell and of a title, in viewport and header coordinates.
    QRect cellRect(int row, int column) const;
    QRect titleRect(int column) const;

    // Events; empty functions do nothing.
    // After a click in a data cell; the clicked row is the table's current row.
    std::function<void(int column)> onCellClick;
    // A click on a title. The grid never sorts.
    std::function<void(int column)> onTitleClick;
    // A key pressed while the grid has the focus, before the grid's own handling; setting the key
    // to 0 keeps it from the grid.
    std::function<void(int &key, Qt::KeyboardModifiers modifiers)> onKeyDown;
    // After the usual paint of a data cell. The painter's brush is the colour the cell's
    // background was just painted in (the highlight for the current cell, else the background).
    std::function<void(QPainter &painter, const QRect &rect, int dataColumn, int column,
                       DrawState state)>
        onDrawColumnCell;

protected:
    void changeEvent(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void currentChanged(const QModelIndex &current, const QModelIndex &previous) override;

private:
    friend class DataGridDelegate;
    void applyColumns();
    void followTable();
    void titleClicked(int logicalIndex);
    int defaultWidth(const DataGridColumn &column, int fieldIndex) const;
    int visualColumn(int logicalIndex) const;

    QPointer<DataSource> m_source;
    TableModel *m_model;
    QList<DataGridColumn> m_columns;
    QList<int> m_fieldOfColumn;
    QColor m_background;
    QPersistentModelIndex m_pressed;
    int m_updateDepth = 0;
    int m_lastColumn = 0;
    int m_drawingRow = -1;
    bool m_syncing = false;
};

// Copies `image` to `topLeft` as the grid's cells draw their bitmaps: 1:1, `height` pixels high
// at most (cut at the bottom), with every pixel of exactly `key` (olive, RGB 128, 128, 0, by
// default) painted in `fill`. No smoothing, no scaling.
void drawTransparent(QPainter &painter, const QPoint &topLeft, int height, const QImage &image,
                     const QColor &fill, const QColor &key = QColor(128, 128, 0));

} // namespace fis

Q_DECLARE_OPERATORS_FOR_FLAGS(fis::DataGrid::DrawState)

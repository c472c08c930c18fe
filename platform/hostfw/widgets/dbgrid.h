#pragma once

#include <QColor>
#include <QFont>
#include <QList>
#include <QPointer>
#include <QTableView>
#include <QVariant>

#include <functional>
#include <optional>

namespace fis {

class DBGrid;
class DataSource;
class GridDelegate;
class GridHeader;
class GridModel;
class MemTable;
struct FieldDef;

// One column of a DBGrid: a field of the grid's table, shown under a title.
//
// The settings are plain members; the grid resolves the field by name whenever the table's
// fields or the columns change. A column whose field the table lacks is not shown, nor is a
// second column of a field already shown.
class GridColumn
{
public:
    // What to draw as the title when its font is not installed.
    enum class TitleMark {
        None,       // the title text in whatever font stands in for the missing one
        HeavyCheck, // a heavy check mark, drawn by the grid (for a symbol-font check title)
    };

    GridColumn() = default;
    explicit GridColumn(const QString &field, int pixels = 0, const QString &caption = QString());

    QString fieldName;
    int width = 0;                                // pixels; 0 or less: defaultWidth()
    QString title;                                // null: the field's display label
    std::optional<QFont> titleFont;               // unset: the grid's title font
    Qt::Alignment titleAlignment = Qt::AlignLeft; // horizontal; titles are centred vertically
    Qt::Alignment alignment;                      // cells; none: numbers right, others left
    TitleMark titleMark = TitleMark::None;

    // The bound field: its index in the table (-1 when the column is not bound) and its
    // declaration (nullptr when not bound).
    int fieldIndex() const { return m_fieldIndex; }
    const FieldDef *field() const;
    // The field's value and display text in the row being painted while the grid paints a
    // cell, else in the table's current row; null / empty when there is none.
    QVariant value() const;
    QString displayText() const;

private:
    friend class DBGrid;
    friend class GridHeader;
    friend class GridModel;
    const DBGrid *m_grid = nullptr;
    int m_fieldIndex = -1;
    bool m_drawMark = false; // the title font is missing and the grid draws the mark
};

// A data grid over a data source's table, in the role of the classic DBGrid: rows are read in
// place through a TableModel, one uniform height each, so a table of any size shows at once.
//
// Only the configured columns are shown, in their order. The grid has a title row, vertical and
// horizontal grid lines, no row indicator and no in-place editing; the current cell (never a
// whole row) is highlighted, also while the grid lacks the focus. Tab and Shift+Tab move from
// cell to cell, wrapping to the next or previous row (on the last or first row the column wraps
// and the row stays).
//
// The table's cursor and the grid's current row follow each other: a click or a move with the
// keys moves the cursor (which posts a pending edit, as every move does); moving the cursor
// moves the current cell. When moving the cursor fails (a post that fails), the error is shown
// as a user action's error and the current cell goes back to the cursor's row.
//
// Handlers run as user actions (runAction) with the grid's window as context, except the paint
// handler: painting must not open windows, so an error it throws is shown by a user action of
// its own once the paint is over. Column indexes given to handlers index columns().
class DBGrid : public QTableView
{
    Q_OBJECT
public:
    enum class DrawStateFlag {
        Selected = 0x1, // the current cell, painted in the highlight colour
        Focused = 0x2,  // the current cell while the grid has the focus
    };
    Q_DECLARE_FLAGS(DrawState, DrawStateFlag)

    enum class Option {
        Titles = 0x1,
        GridLines = 0x2,           // vertical and horizontal
        Tabs = 0x4,                // Tab and Shift+Tab move inside the grid
        AlwaysShowSelection = 0x8, // highlight the current cell without the focus too
    };
    Q_DECLARE_FLAGS(Options, Option)

    explicit DBGrid(QWidget *parent = nullptr);
    ~DBGrid() override;

    // The grid shows the source's table. When the source is given another open table the grid
    // follows it; a table that replaces it closed is seen once it reports a change.
    DataSource *dataSource() const;
    void setDataSource(DataSource *source);
    MemTable *table() const;

    const QList<GridColumn> &columns() const;
    void setColumns(const QList<GridColumn> &columns);
    const GridColumn &column(int index) const;

    // The column of the current cell (an index into columns()), -1 when there is none.
    int currentColumn() const;
    void setCurrentColumn(int column);

    // Pixel width the column takes when its width is not set: the field's display width in
    // average characters of the grid's font, at least the width of its title.
    int defaultWidth(const GridColumn &column) const;
    // Where a cell and a title are, in viewport and header coordinates; empty when not shown.
    QRect cellRect(int row, int column) const;
    QRect titleRect(int column) const;

    Options options() const;
    void setOptions(Options options);
    QColor backgroundColor() const;
    void setBackgroundColor(const QColor &color);
    void setBorder(bool border); // a plain frame of its own, or none
    QFont titleFont() const;
    void setTitleFont(const QFont &font);

    // Suspend and resume repainting, nested. While suspended the grid neither paints nor
    // follows the table's cursor; resuming repaints once and catches up with the cursor.
    // For a walk over many rows suspend the table's views too (DBGridUpdateGuard does both),
    // so that no row's move or change reaches the grid at all.
    void beginUpdate();
    void endUpdate();
    bool updatesSuspended() const { return m_updateLock > 0; }

    // The row whose cell is being painted (for onDrawColumnCell), -1 outside painting.
    int drawingRow() const { return m_drawingRow; }

    // A left click in a data cell, once the clicked row is current.
    std::function<void(int column)> onCellClick;
    // A left click on a column's title. The grid never sorts.
    std::function<void(int column)> onTitleClick;
    // A key pressed while the grid has the focus, before the grid handles it: setting `key` to
    // 0 stops it, setting another key makes the grid handle that one. Keys are Qt::Key codes
    // (Shift+Tab arrives as Qt::Key_Backtab). An action that ends stops the key as well.
    std::function<void(int &key, Qt::KeyboardModifiers modifiers)> onKeyDown;
    // After the grid has painted a cell (background and text): `canvas` is clipped to the cell
    // and its brush holds the colour the background was painted in.
    std::function<void(QPainter &canvas, const QRect &rect, int dataColumn,
                       const GridColumn &column, DrawState state)>
        onDrawColumnCell;

    void keyboardSearch(const QString &search) override; // typing finds nothing: no editing

protected:
    bool event(QEvent *event) override;
    void changeEvent(QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    QModelIndex moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) override;
    void currentChanged(const QModelIndex &current, const QModelIndex &previous) override;

private:
    friend class GridColumn;
    friend class GridDelegate;
    friend class GridHeader;
    friend class GridModel;

    int columnOfSection(int section) const;
    QList<int> shownSections() const;
    QFont titleFontOf(const GridColumn &column) const;
    void applyLayout();
    void applyRowHeight();
    void applyPalette();
    void syncFromTable();
    void bindTable();
    void paintCell(QPainter &painter, const QRect &rect, const QModelIndex &index);
    void reportPaintError(std::exception_ptr error);

    QPointer<DataSource> m_source;
    GridModel *m_model;
    GridHeader *m_header;
    QList<GridColumn> m_columns;
    QList<int> m_columnOfSection; // model column -> index into m_columns, -1 when not shown
    Options m_options =
        Options(Option::Titles) | Option::GridLines | Option::Tabs | Option::AlwaysShowSelection;
    QColor m_background;
    int m_updateLock = 0;
    int m_modelBusy = 0;    // inside a change of the model's rows
    bool m_syncing = false; // the grid is moving its current cell after the table
    bool m_syncPending = false;
    bool m_applying = false; // the grid is laying its columns out, not the user
    int m_lastSection = -1;  // the current cell's model column, kept across resets
    int m_drawingRow = -1;
    QPersistentModelIndex m_pressed;
    bool m_paintErrorPending = false;
};

// Suspends a grid's repainting and, when given, the views of its table for a walk over many
// rows, and resumes both when it goes out of scope (also when the action ends by an error):
// the table's views then see one reset and the grid repaints once, on the table's cursor.
class DBGridUpdateGuard
{
public:
    explicit DBGridUpdateGuard(DBGrid &grid, MemTable *table = nullptr);
    ~DBGridUpdateGuard();
    DBGridUpdateGuard(const DBGridUpdateGuard &) = delete;
    DBGridUpdateGuard &operator=(const DBGridUpdateGuard &) = delete;

private:
    DBGrid &m_grid;
    QPointer<MemTable> m_table;
};

} // namespace fis

Q_DECLARE_OPERATORS_FOR_FLAGS(fis::DBGrid::DrawState)
Q_DECLARE_OPERATORS_FOR_FLAGS(fis::DBGrid::Options)

#pragma once

#include <QHash>
#include <QPoint>
#include <QRectF>
#include <QString>
#include <QWidget>

namespace kvr::wall {

namespace VideoWall {

struct Config;
struct ScreenConfig;

// The layout of the display being edited, in the display's aspect, with the
// camera of each cell. Takes cameras dragged from the camera tree and cells
// dragged inside itself, selects a cell on click and clears a cell through
// its round button. The keyboard does the same: the arrows, Home and End
// choose the cell, Delete empties it, and its menu (the menu key, Shift+F10
// or a right-click) empties it or moves its camera to another cell. Edits the
// display's entry of the dialog's configuration in place and reports every
// edit with changed().
//
// It names the display by key and looks the entry up on every use: the
// dialog's list of displays grows and shrinks while the preview shows.
class LayoutPreview final : public QWidget {
    Q_OBJECT
public:
    explicit LayoutPreview(QWidget* parent = nullptr);

    // Shows the entry of `key` in `config` (neither owned; null or an unknown
    // key shows the frame only). An aspect of 0.1 or less becomes 16/9. The
    // selection goes back to cell 0.
    void setScreen(Config* config, const QString& key, const QHash<QString, QString>* titles, double aspect);
    // The entry shown, looked up now; null when there is none.
    ScreenConfig* screen() const;
    QString screenKey() const { return m_key; }

    int selectedCell() const { return m_selectedCell; }
    void setSelectedCell(int cell);
    int hoverCell() const { return m_hover; }

    QRectF area() const;
    QRectF cellRect(int cell) const;
    QRectF clearRect(int cell) const;
    // The first cell whose rectangle holds `pos`; -1 for none.
    int cellAt(const QPointF& pos) const;
    // The number of cells of the layout shown; 0 without one.
    int cellCount() const;
    // What a cell shows of its camera: its text, "Camera not found" for an id
    // no camera has, empty for an empty cell.
    QString cameraText(int cell) const;

    // The edits, each as the pointer makes it, then changed():
    // cameras dropped on `cell` (the first into it, the others into the empty
    // cells after it), which becomes the selected one;
    void placeCameras(int cell, const QStringList& ids);
    // a cell dragged onto `to`: their cameras change places, `to` is selected;
    void moveCell(int from, int to);
    // a filled cell's clear button: the cell empties, the selection stays.
    void emptyCell(int cell);
    // The menu of a filled cell at `at` (global): empty it, or move its camera.
    void showCellMenu(int cell, const QPoint& at);

    QSize minimumSizeHint() const override;

Q_SIGNALS:
    void changed();

protected:
    // A filled cell's camera, whole, in a tool tip (a small cell shows only
    // part of it, or its number alone).
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // Whether a drag's data is something this preview takes: cameras from
    // anywhere, cells only from its own cell drags.
    bool takes(const QDropEvent* event) const;
    // A screen reader follows the cell the keys moved to (and finds the
    // selected one as the preview's focused item when the focus comes).
    void sayCell();
    // The selected cell's menu, under it.
    void menuOfSelected();

    Config* m_config = nullptr;
    QString m_key;
    const QHash<QString, QString>* m_titles = nullptr;
    double m_aspect = 16.0 / 9.0;
    int m_selectedCell = 0;
    int m_hover = -1;
    int m_dropTarget = -1;
    QPoint m_pressPos;
    int m_pressCell = -1;
};

} // namespace VideoWall

} // namespace kvr::wall

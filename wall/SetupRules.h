#pragma once

// The rules of the wall set-up dialog, its display map and its layout
// preview, on plain values: texts, cell edits, drops and geometry.

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QRect>
#include <QRectF>
#include <QSize>
#include <QSizeF>
#include <QString>
#include <QStringList>

#include <optional>

class QFontMetrics;

namespace kvr::wall {

namespace VideoWall {
struct Camera;
struct Config;
struct Layout;
struct ScreenConfig;
} // namespace VideoWall

namespace VideoWall::SetupRules {

// Drag-and-drop data: camera ids joined by line feeds in UTF-8; and one cell
// of the layout preview as its index in decimal digits, offered for moving.
inline const QString kCameraMime = QStringLiteral("application/x-kvr-wall-camera");
inline const QString kCellMime = QStringLiteral("application/x-kvr-wall-cell");

QByteArray cameraPayload(const QStringList& ids);
// The ids of a camera payload, empty parts skipped.
QStringList camerasFromPayload(const QByteArray& payload);
QByteArray cellPayload(int cell);
// The cell of a cell payload; nothing unless it is a plain decimal number.
std::optional<int> cellFromPayload(const QByteArray& payload);

// ---- Editing a display's cells ---------------------------------------------------

// Camera id to the text the preview shows for it: "<device> · <title>", or
// the title alone when the device text is empty or equals it. A later camera
// with the same id wins.
QHash<QString, QString> previewTitles(const QList<Camera>& cameras);

// Puts `id` in the selected cell (clamped into the cells, 0 when negative) and
// returns the next selection: the first empty cell after it, wrapping round;
// the same cell when none is empty. Nothing changes without cells.
int assignToCell(QList<QString>& cells, int selectedCell, const QString& id);

// A new layout for the display: its cameras, then those `held` back by an
// earlier change, keep their order and move into the first cells of the new
// layout. Returns those that do not fit (none of them twice), for the set-up
// to hold back: a layout with more cells takes them again.
QStringList changeLayout(ScreenConfig& screen, const QString& layoutKey, const QStringList& held = {});

// Each id into the next empty cell, from the first cell on; ids left over
// when the cells run out are dropped.
void fillEmptyCells(QList<QString>& cells, const QStringList& ids);

// The ids in their order, each only the first time it occurs.
QStringList uniqueIds(const QStringList& ids);

// A camera drop on cell `target`: the first id replaces that cell's camera,
// each further one goes into the next empty cell after the previous one,
// towards the end only; ids left over are dropped.
void dropCameras(QList<QString>& cells, int target, const QStringList& ids);

// A cell dragged onto another: the two entries change places (a camera moves
// to an empty cell, or two cameras swap). Out-of-range or equal cells change
// nothing.
void moveCell(QList<QString>& cells, int from, int to);

// The keys of the layout preview: the cell that a key moves the selection
// to from `from`. Back and On go by the cells' order (a wall is read row by
// row), Up and Down to the cell above or below where `from` begins, First
// and Last to the ends. Where there is no cell that way the selection stays;
// from outside the layout it goes to the first cell. -1 without cells.
enum class CellKey { Back, On, Up, Down, First, Last };
int cellAfterKey(const Layout& layout, int from, CellKey key);

// Search: whether `text` holds `needle` (already trimmed), ignoring case.
bool matchesSearch(const QString& text, const QString& needle);

// ---- Texts -------------------------------------------------------------------

struct RunState {
    bool stopVisible = false;
    QString startText;
    QString status;
};
// running: any wall runs; mine: it runs from this dialog's source; windows:
// its display windows; ready: connected displays that would get a window.
RunState runState(bool running, bool mine, int windows, int ready);

// The editor's heading: "Display 2 · <title>" for a connected display (its
// number from 1), "<label> · not connected" for one that is not.
QString editorHeading(bool connected, int number, const QString& title, const QString& label);
// A layout's entry in the list of layouts: its title and its number of
// cells, which a title that already holds it is not given twice.
QString layoutEntry(const QString& title, int cells);

enum class DisplayPlace { ThisWindow, OtherConnected, NotConnected };
QString editorNote(DisplayPlace place);
// What the editor says of `held` cameras that do not fit the layout (empty
// for none): how many will not show, and how to have them back.
QString heldBackNote(int held);

// Width over height of a display's size, 16/9 for a degenerate one.
double aspectOf(const QSize& size);
// The set-up dialog's size as it opens on a display whose free area (less
// the window's frame) is `available`: its own size, within that area.
QSize setupSize(const QSize& available);

// What a screen reader says of a cell of the preview: "Cell 3, <camera>",
// "Cell 3, empty".
QString spokenCell(int cell, const QString& camera);
// The camera tree's menu entry that puts `cameras` (what a drag of the
// chosen items would carry) into the selected cell `cell` (from 0) and the
// empty ones after it, as a drop there does: "Put in cell 3", "Put 4 cameras
// from cell 3".
QString placeEntry(int cameras, int cell);
// The preview's menu entries for a filled cell (from 0) and the cells its
// camera may move to, as a drag onto them does.
QString emptyEntry(int cell);
QString moveToEntry(int cell, const QString& camera);

// ---- The display map ---------------------------------------------------------------

struct MapScreen {
    QString key;
    QString title;
    QRect geometry;
};

struct MapBox {
    QString key;
    QRectF rect;
    QString title;
    int number = 0; // place among the connected displays from 1; 0 when remembered only
    bool operator==(const MapBox&) const = default;
};

// The connected displays scaled into the map, then a strip of remembered
// displays that still have cameras.
QList<MapBox> mapBoxes(const QList<MapScreen>& connected, const Config* config, const QSize& widget);

// A box's second line: "Not connected", "No cameras" or "3 cameras · off",
// with " · this window" for the display the map's window is on.
QString mapStateText(const MapBox& box, const ScreenConfig* screen, bool thisWindow);

// ---- The layout preview ------------------------------------------------------------

// The display's area in the widget: the aspect fitted into the widget less an
// 8 px margin, centred.
QRectF previewArea(const QSizeF& widget, double aspect);
// Cell i of the layout in that area, 3 px in from its grid lines; empty for
// a cell outside the layout.
QRectF previewCellRect(const QRectF& area, const Layout& layout, int cell);
// The round clear button of a filled cell: 20 px, 4 px from its top right.
QRectF previewClearRect(const QRectF& cell);
// The lines a cell of the preview shows of a camera's text ("<device> ·
// <title>"), each within `width` pixels, on at most `lines` lines: whole
// when it fits; on two lines or more the device and the title each on its
// own line; on one the device part gives way first (fitCameraTitle), and
// where the title alone does not fit, the title shortened in its middle;
// nothing on a line of fewer than six letters. Beside `siblings` (the texts
// of the other cells) what tells the cell apart from them stays
// (fitApart): a device every cell shares, or one too long for its line, is
// left out for the title's two lines, the first as many of its words as fit,
// the second the rest.
QStringList previewCellLines(const QString& text, const QFontMetrics& metrics, int width, int lines,
                             const QStringList& siblings = {});

} // namespace VideoWall::SetupRules

} // namespace kvr::wall

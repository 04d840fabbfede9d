#include "wall/SetupRules.h"

#include "wall/Config.h"
#include "wall/Layouts.h"
#include "wall/Source.h"
#include "wall/Tunables.h"

#include "app/core/SearchText.h"
#include "app/ui/NamesApart.h"

#include <QFontMetrics>

#include <algorithm>
#include <utility>

using namespace kvr::ui;

namespace kvr::wall {

namespace VideoWall::SetupRules {

QByteArray cameraPayload(const QStringList& ids)
{
    return ids.join(QLatin1Char('\n')).toUtf8();
}

QStringList camerasFromPayload(const QByteArray& payload)
{
    return QString::fromUtf8(payload).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QByteArray cellPayload(int cell)
{
    return QByteArray::number(cell);
}

std::optional<int> cellFromPayload(const QByteArray& payload)
{
    // Digits only: no sign, no blanks, nothing after; and it must fit an int.
    if (payload.isEmpty() || payload.size() > 9)
        return std::nullopt;
    for (char c : payload)
        if (c < '0' || c > '9')
            return std::nullopt;
    return payload.toInt();
}

QHash<QString, QString> previewTitles(const QList<Camera>& cameras)
{
    QHash<QString, QString> out;
    for (const Camera& c : cameras) {
        if (!c.device.isEmpty() && c.device != c.title)
            out.insert(c.id, c.device + QStringLiteral(" \u00B7 ") + c.title);
        else
            out.insert(c.id, c.title);
    }
    return out;
}

int assignToCell(QList<QString>& cells, int selectedCell, const QString& id)
{
    const auto n = int(cells.size());
    if (n == 0)
        return selectedCell;
    const int idx = selectedCell < 0 ? 0 : qMin(selectedCell, n - 1);
    cells[idx] = id;
    for (int step = 1; step <= n; ++step) {
        const int i = (idx + step) % n;
        if (cells.at(i).isEmpty())
            return i;
    }
    return idx;
}

QStringList changeLayout(ScreenConfig& screen, const QString& layoutKey, const QStringList& held)
{
    QStringList kept;
    for (const QString& id : screen.cells)
        if (!id.isEmpty())
            kept.append(id);
    for (const QString& id : held)
        if (!id.isEmpty() && !kept.contains(id))
            kept.append(id);
    screen.layout = layoutKey;
    const auto n = layout(layoutKey).cells.size();
    screen.cells = QList<QString>(n);
    for (qsizetype i = 0; i < n && i < kept.size(); ++i)
        screen.cells[i] = kept.at(i);
    return kept.mid(qMin(n, kept.size()));
}

void fillEmptyCells(QList<QString>& cells, const QStringList& ids)
{
    qsizetype slot = 0;
    for (const QString& id : ids) {
        while (slot < cells.size() && !cells.at(slot).isEmpty())
            ++slot;
        if (slot >= cells.size())
            return;
        cells[slot++] = id;
    }
}

QStringList uniqueIds(const QStringList& ids)
{
    QStringList out;
    for (const QString& id : ids)
        if (!out.contains(id))
            out.append(id);
    return out;
}

void dropCameras(QList<QString>& cells, int target, const QStringList& ids)
{
    if (target < 0 || target >= cells.size() || ids.isEmpty())
        return;
    cells[target] = ids.first();
    qsizetype at = target;
    for (qsizetype k = 1; k < ids.size(); ++k) {
        qsizetype next = at + 1;
        while (next < cells.size() && !cells.at(next).isEmpty())
            ++next;
        if (next >= cells.size())
            return;
        cells[next] = ids.at(k);
        at = next;
    }
}

void moveCell(QList<QString>& cells, int from, int to)
{
    if (from < 0 || to < 0 || from >= cells.size() || to >= cells.size() || from == to)
        return;
    cells.swapItemsAt(from, to);
}

int cellAfterKey(const Layout& layout, int from, CellKey key)
{
    const auto n = int(layout.cells.size());
    if (n == 0)
        return -1;
    if (from < 0 || from >= n)
        return 0;
    const QRect here = layout.cells.at(from);
    // The cell that holds a grid point; `from` where none does.
    const auto holding = [&layout, from](const QPoint& point) {
        for (int i = 0; i < layout.cells.size(); ++i)
            if (layout.cells.at(i).contains(point))
                return i;
        return from;
    };
    switch (key) {
    case CellKey::Back:
        return std::max(0, from - 1);
    case CellKey::On:
        return std::min(n - 1, from + 1);
    case CellKey::Up:
        return holding(QPoint(here.left(), here.top() - 1));
    case CellKey::Down:
        return holding(QPoint(here.left(), here.bottom() + 1));
    case CellKey::First:
        return 0;
    case CellKey::Last:
        return n - 1;
    }
    return from;
}

bool matchesSearch(const QString& text, const QString& needle)
{
    return kvr::core::SearchText::contains(text, needle);
}

RunState runState(bool running, bool mine, int windows, int ready)
{
    RunState out;
    out.stopVisible = running;
    out.startText = mine ? QStringLiteral("Restart with changes") : QStringLiteral("Start wall");
    if (mine)
        out.status = QStringLiteral("The wall is running on %1 display%2.")
                         .arg(windows)
                         .arg(windows == 1 ? QString() : QStringLiteral("s"));
    else if (running)
        out.status = QStringLiteral("A wall from another sign-in is running. Starting this one replaces it.");
    else if (ready == 0)
        out.status = QStringLiteral("Put cameras on a display to start.");
    else
        out.status = QStringLiteral("%1 display%2 ready.").arg(ready).arg(ready == 1 ? QString() : QStringLiteral("s"));
    return out;
}

QString layoutEntry(const QString& title, int cells)
{
    const QString count = QStringLiteral("(%1)").arg(cells);
    return title.endsWith(count) ? title : title + QStringLiteral("  ") + count;
}

QString editorHeading(bool connected, int number, const QString& title, const QString& label)
{
    if (connected)
        return QStringLiteral("Display ") + QString::number(number) + QStringLiteral(" \u00B7 ") + title;
    return label + QStringLiteral(" \u00B7 not connected");
}

QString editorNote(DisplayPlace place)
{
    switch (place) {
    case DisplayPlace::ThisWindow:
        return QStringLiteral("This is the display this window is on: the wall will cover it. Press Esc on the "
                              "wall, or use Stop wall at its top edge, to get back.");
    case DisplayPlace::OtherConnected:
        return QString();
    case DisplayPlace::NotConnected:
        return QStringLiteral(
            "This display isn't connected. Its layout is kept and it joins the wall when it is plugged in.");
    }
    return QString();
}

QString heldBackNote(int held)
{
    if (held < 1)
        return {};
    return QStringLiteral("%1 no longer fit%2 this layout and will not show. A layout with more cells takes %3 "
                          "back until the wall starts or this window closes.")
        .arg(held == 1 ? QStringLiteral("1 camera") : QStringLiteral("%1 cameras").arg(held),
             held == 1 ? QStringLiteral("s") : QString(), held == 1 ? QStringLiteral("it") : QStringLiteral("them"));
}

double aspectOf(const QSize& size)
{
    if (size.height() < 1)
        return 16.0 / 9.0;
    const double a = double(size.width()) / double(size.height());
    return a <= 0.1 ? 16.0 / 9.0 : a;
}

QSize setupSize(const QSize& available)
{
    const QSize own(kvr::wall::tun::kSetupWidthPx, kvr::wall::tun::kSetupHeightPx);
    return available.isValid() && !available.isEmpty() ? own.boundedTo(available) : own;
}

QList<MapBox> mapBoxes(const QList<MapScreen>& connected, const Config* config, const QSize& widget)
{
    QRect all;
    QStringList connectedKeys;
    for (const MapScreen& s : connected) {
        all = all.united(s.geometry);
        connectedKeys.append(s.key);
    }
    QStringList remembered;
    if (config) {
        for (const ScreenConfig& s : config->screens)
            if (!connectedKeys.contains(s.key) && s.assignedCount() >= 1 && !remembered.contains(s.key))
                remembered.append(s.key);
    }
    const double strip = remembered.isEmpty() ? 0 : 52;
    const double gap = remembered.isEmpty() ? 0 : 8;
    const double availW = widget.width() - 16;
    const double availH = widget.height() - 16 - strip - gap;

    QList<MapBox> out;
    if (all.isValid() && availW > 10 && availH > 10) {
        const double s = qMin(availW / all.width(), availH / all.height());
        const double offX = (availW - all.width() * s) / 2 + 8;
        const double offY = (availH - all.height() * s) / 2 + 8;
        for (int i = 0; i < connected.size(); ++i) {
            const QRect& g = connected.at(i).geometry;
            const QRectF r(offX + (g.left() - all.left()) * s + 3, offY + (g.top() - all.top()) * s + 3,
                           s * g.width() - 6, s * g.height() - 6);
            out.append({connected.at(i).key, r, connected.at(i).title, i + 1});
        }
    }
    for (int k = 0; k < remembered.size(); ++k) {
        QString label;
        for (const ScreenConfig& s : config->screens)
            if (s.key == remembered.at(k))
                label = s.label;
        out.append({remembered.at(k), QRectF(8 + 208 * k, widget.height() - 60, 200, 52), label, 0});
    }
    return out;
}

QString mapStateText(const MapBox& box, const ScreenConfig* screen, bool thisWindow)
{
    QString state;
    if (box.number <= 0) {
        state = QStringLiteral("Not connected");
    } else if (!screen || screen->assignedCount() == 0) {
        state = QStringLiteral("No cameras");
    } else {
        const int n = screen->assignedCount();
        state = QString::number(n) + (n == 1 ? QStringLiteral(" camera") : QStringLiteral(" cameras"))
            + (screen->enabled ? QString() : QStringLiteral(" \u00B7 off"));
    }
    if (box.number >= 1 && thisWindow)
        state += QStringLiteral(" \u00B7 this window");
    return state;
}

QString spokenCell(int cell, const QString& camera)
{
    return QStringLiteral("Cell %1, %2").arg(cell + 1).arg(camera.isEmpty() ? QStringLiteral("empty") : camera);
}

QString placeEntry(int cameras, int cell)
{
    if (cameras == 1)
        return QStringLiteral("Put in cell %1").arg(cell + 1);
    return QStringLiteral("Put %1 cameras from cell %2").arg(cameras).arg(cell + 1);
}

QString emptyEntry(int cell)
{
    return QStringLiteral("Empty cell %1").arg(cell + 1);
}

QString moveToEntry(int cell, const QString& camera)
{
    return QStringLiteral("Move to cell %1 (%2)")
        .arg(cell + 1)
        .arg(camera.isEmpty() ? QStringLiteral("empty") : QStringLiteral("swap with ") + camera);
}

QRectF previewArea(const QSizeF& widget, double aspect)
{
    const double iw = widget.width() - 16;
    const double ih = widget.height() - 16;
    double w = iw;
    double h = iw / aspect;
    if (iw / aspect > ih) {
        w = aspect * ih;
        h = ih;
    }
    return QRectF((iw - w) / 2 + 8, (ih - h) / 2 + 8, w, h);
}

QRectF previewCellRect(const QRectF& area, const Layout& layout, int cell)
{
    if (cell < 0 || cell >= layout.cells.size() || layout.columns < 1 || layout.rows < 1)
        return QRectF();
    const double colW = area.width() / layout.columns;
    const double rowH = area.height() / layout.rows;
    const QRect& c = layout.cells.at(cell);
    return QRectF(area.x() + c.left() * colW + 3, area.y() + c.top() * rowH + 3, colW * c.width() - 6,
                  rowH * c.height() - 6);
}

QRectF previewClearRect(const QRectF& cell)
{
    return QRectF(cell.x() + cell.width() - 24, cell.y() + 4, 20, 20);
}

namespace {

// A camera's text as its device and its title (no device: the whole).
std::pair<QString, QString> deviceAndTitle(const QString& text)
{
    const qsizetype cut = cameraTitleDeviceEnd(text);
    return cut > 0 ? std::pair{text.left(cut), text.mid(cut + 3)} : std::pair{QString(), text};
}

// The first words of `text` that fit `width`, and the rest.
std::pair<QString, QString> firstWords(const QString& text, const QFontMetrics& metrics, int width)
{
    const QStringList words = text.split(QLatin1Char(' '));
    QString first;
    qsizetype used = 0;
    for (; used < words.size(); ++used) {
        const QString longer = first.isEmpty() ? words.at(used) : first + QLatin1Char(' ') + words.at(used);
        if (metrics.horizontalAdvance(longer) > width)
            break;
        first = longer;
    }
    return {first, QStringList(words.mid(used)).join(QLatin1Char(' '))};
}

// The lines of a cell told apart from the other cells.
QStringList linesApart(const QString& text, const QStringList& siblings, const QFontMetrics& metrics, int width,
                       int lines)
{
    const auto [device, title] = deviceAndTitle(text);
    QStringList titles;
    QStringList devices;
    bool deviceShared = true;
    bool titleElsewhere = false; // the same title on another device
    for (const QString& s : siblings) {
        const auto [d, t] = deviceAndTitle(s);
        titles << t;
        devices << d;
        deviceShared = deviceShared && d == device;
        titleElsewhere = titleElsewhere || (t == title && d != device);
    }
    if (lines == 1)
        return {deviceShared ? fitApart(title, titles, metrics, width) : fitApart(text, siblings, metrics, width)};
    const bool deviceFits = metrics.horizontalAdvance(device) <= width;
    if (!device.isEmpty() && !deviceShared && (deviceFits || titleElsewhere))
        return {fitApart(device, devices, metrics, width), fitApart(title, titles, metrics, width)};
    if (metrics.horizontalAdvance(title) <= width)
        return {title};
    // The title on two lines: its first words, then the rest told apart
    // from the rest of the titles that begin alike.
    const auto [first, rest] = firstWords(title, metrics, width);
    if (first.isEmpty())
        return {fitApart(title, titles, metrics, width)};
    QStringList rests;
    for (const QString& t : titles)
        if (t.startsWith(first + QLatin1Char(' ')))
            rests << t.mid(first.size() + 1);
    return {first, fitApart(rest, rests, metrics, width)};
}

} // namespace

QStringList previewCellLines(const QString& text, const QFontMetrics& metrics, int width, int lines,
                             const QStringList& siblings)
{
    if (lines < 1 || width < 1)
        return {};
    if (metrics.horizontalAdvance(text) <= width)
        return {text};
    // Fewer than six letters' room says nothing of a camera: the cell keeps
    // to its number (and its tool tip).
    if (width < 6 * metrics.averageCharWidth())
        return {};
    if (std::any_of(siblings.cbegin(), siblings.cend(), [&text](const QString& s) { return s != text; }))
        return linesApart(text, siblings, metrics, width, lines);
    // A name too long for its line keeps its start and its end, where
    // cameras of one recorder differ ("Camera 12", "Camera 13").
    const auto name = [&metrics, width](const QString& n) {
        return metrics.horizontalAdvance(n) <= width ? n : metrics.elidedText(n, Qt::ElideMiddle, width);
    };
    const qsizetype cut = cameraTitleDeviceEnd(text);
    if (cut > 0) {
        const QString camera = text.mid(cut + 3);
        if (lines >= 2)
            return {metrics.elidedText(text.left(cut), Qt::ElideRight, width), name(camera)};
        const QString fitted = fitCameraTitle(text, metrics, width);
        return {fitted.endsWith(camera) ? fitted : name(camera)};
    }
    if (lines == 1)
        return {name(text)};
    // No device part: as many words as fit on the first line, the rest on
    // the second, shortened at its end.
    const auto [first, rest] = firstWords(text, metrics, width);
    if (first.isEmpty())
        return {name(text)};
    return {first, metrics.elidedText(rest, Qt::ElideRight, width)};
}

} // namespace VideoWall::SetupRules

} // namespace kvr::wall

#pragma once

// The titling rule: names shortened so that things side by side still read
// apart. Things side by side (the tiles of a wall, the rows of a table, the
// entries of a list) are named alike at their start and apart at their end
// in real organisations ("Car park level B1 ramp and bay row 1", "... row
// 2"): a name shortened at its end keeps exactly the part all of them share.
// These shorten a name so that it keeps what tells it apart from its
// siblings. Plain functions of texts, a font's metrics and a width: the
// widgets that show the names (Fitting.h, the tiles of the walls) call them.

#include <QString>
#include <QStringList>

class QFontMetrics;

namespace kvr::ui {

// A camera's title "device · camera" within `width` pixels (a tile's badge,
// a cell of the wall's preview). The device part gives way first, down to
// its first letter and then to "…" alone, so that the camera's own name
// stays readable and the cameras of one recorder do not all read alike; only
// then is the camera's name shortened too. A title without a device part
// (and a site's name after the wider "  ·  ") is shortened at its end.
QString fitCameraTitle(const QString& title, const QFontMetrics& metrics, int width);
// Where the device part of such a title ends (-1: it has none).
qsizetype cameraTitleDeviceEnd(const QString& title);

// `name` within `width` pixels, beside `siblings` (the other names shown
// with it; the name itself and names equal to it among them count for
// nothing): whole where it fits; alone, cut in its middle; else shortened at
// its end where that still tells it from every sibling; else with words cut out of its middle ("Car
// park…row 1") or, where the words it keeps at its start are shared by every
// sibling, with its start left out ("…bay row 1"); else, where what tells it
// apart lies inside it, the fewest of its words that no sibling has all of
// ("…first floor…desk…"), so that what tells it apart stays, at word
// starts, with as much around it as fits. Only where no such form fits is it
// shortened anyhow, within `width`.
// A camera's title "device · camera" is told apart by the camera's own name
// (fitted beside the other cameras' names); its device shows only where
// another device's camera has the same name, and then gives way before the
// camera's words do.
QString fitApart(const QString& name, const QStringList& siblings, const QFontMetrics& metrics, int width);
// The same, where `elsewhere` are names shown in turn with them (the other
// pages of a paged wall): a camera title whose camera's name recurs among
// them under another device names its device, as it would beside them.
QString fitApart(const QString& name, const QStringList& siblings, const QFontMetrics& metrics, int width,
                 const QStringList& elsewhere);
// The least room in which fitApart tells `name` apart from `siblings` (and
// `elsewhere`): the width of its narrowest such form, or of the whole name
// where that is narrower; 0 for a name with nothing to tell it from. What a
// tile's name keeps beside anything else the tile says of itself.
int leastApartWidth(const QString& name, const QStringList& siblings, const QFontMetrics& metrics,
                    const QStringList& elsewhere = {});
// Each name within `width`, told apart from the others.
QStringList fitApart(const QStringList& names, const QFontMetrics& metrics, int width);

} // namespace kvr::ui

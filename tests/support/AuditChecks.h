#pragma once

// The checks of the screen audit, each over one scene of a window (see
// ScreenAudit.h for what each looks for).

#include "tests/support/AuditScene.h"
#include "tests/support/ScreenAudit.h"

#include <QSet>

class QAbstractItemView;

namespace screenaudit {

QStringList textFaults(const Scene& scene);
QStringList paintedFaults(const Scene& scene);
QStringList alikeFaults(const Scene& scene);
QStringList overlapFaults(const Scene& scene);
QStringList screenFaults(const Scene& scene, const Setting& setting);
QStringList contrastFaults(const Scene& scene, const Setting& setting);
QStringList looksFaults(const Scene& scene);
QStringList wordFaults(const Scene& scene, const Setting& setting);
QStringList nameFaults(const Scene& scene);
// Moves the keyboard focus.
QStringList tabFaults(const Scene& scene);

// Shared by the checks: the whole of a shortened text of a label or button
// (its ElidedLabel's, or its tool tip; empty with `fault` set when it cannot
// be read), the item view whose viewport `w` is, the line of an item's whole
// text a painted line shows part of, and whether the text check measures
// the widget's own text.
QString wholeText(const QWidget* w, const QString& shown, QString* fault);
QAbstractItemView* viewOf(const QWidget* viewport);
QString wholeLine(const QString& whole, const QString& shown);
bool isMeasured(const QWidget* w);
// What a walk of the accessibility tree down from `root` meets, as a screen
// reader or a test driving the program from outside finds it; and the name
// a screen reader says of `w`.
QSet<const QObject*> inAccessibilityTree(const QWidget* root);
QString accessibleName(QWidget* w);

} // namespace screenaudit

#pragma once

// The checks of the screen audit, each over one scene of a window (see
// ScreenAudit.h for what each looks for).

#include "tests/support/AuditScene.h"
#include "tests/support/ScreenAudit.h"

namespace screenaudit {

QStringList textFaults(const Scene& scene);
QStringList paintedFaults(const Scene& scene);
QStringList overlapFaults(const Scene& scene);
QStringList screenFaults(const Scene& scene, const Setting& setting);
QStringList contrastFaults(const Scene& scene, const Setting& setting);
QStringList looksFaults(const Scene& scene);
QStringList wordFaults(const Scene& scene, const Setting& setting);
QStringList nameFaults(const Scene& scene);
// Moves the keyboard focus.
QStringList tabFaults(const Scene& scene);

} // namespace screenaudit

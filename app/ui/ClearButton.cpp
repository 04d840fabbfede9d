#include "app/ui/ClearButton.h"

#include <QAction>
#include <QLineEdit>

namespace kvr::ui {

void giveClearButton(QLineEdit* field)
{
    field->setClearButtonEnabled(true);
    // The button takes its words from the action it stands for.
    if (auto* clear = field->findChild<QAction*>(QStringLiteral("_q_qlineeditclearaction"))) {
        clear->setText(QStringLiteral("Clear search"));
        clear->setToolTip(QStringLiteral("Clear search"));
    }
}

} // namespace kvr::ui

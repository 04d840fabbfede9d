#pragma once

#include <QLatin1String>
#include <QPushButton>
#include <QString>

namespace kvr::shell {

namespace ShellUi {

// A text button of the shell's windows; the style sheet draws it by its
// object name.
inline QPushButton* button(const QString& text, const char* objectName, QWidget* parent)
{
    auto* b = new QPushButton(text, parent);
    b->setObjectName(QLatin1String(objectName));
    b->setCursor(Qt::PointingHandCursor);
    return b;
}

} // namespace ShellUi

} // namespace kvr::shell

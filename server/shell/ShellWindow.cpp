#include "server/shell/ShellWindow.h"

#include "app/ui/Theme.h"

ShellWindow::ShellWindow(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("AppRoot"));
    setWindowTitle(QStringLiteral("Kavira"));
    setMinimumSize(1280, 720);
    setAttribute(Qt::WA_StyledBackground);
    setStyleSheet(Theme::appStyle());
}

void ShellWindow::loadCatalog()
{
    ++m_catalogLoads;
}

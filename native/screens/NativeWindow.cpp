#include "native/screens/NativeWindow.h"

#include "app/core/Settings.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

NativeWindow::NativeWindow(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("NRoot"));
    setWindowTitle(QStringLiteral("Vigilo"));
    setMinimumSize(1280, 720);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    auto* bar = new QWidget(this);
    auto* barRow = new QHBoxLayout(bar);
    barRow->setContentsMargins(24, 12, 24, 12);
    barRow->addWidget(new QLabel(QStringLiteral("Vigilo"), bar));
    barRow->addStretch();
    auto* leave = new QPushButton(QStringLiteral("Use server sign-in"), bar);
    barRow->addWidget(leave);
    layout->addWidget(bar);
    layout->addStretch(1);
    connect(leave, &QPushButton::clicked, this, &NativeWindow::useServerSignIn);
}

void NativeWindow::useServerSignIn()
{
    Prefs::set(Prefs::kNativeMode, false);
    Q_EMIT leaveNative();
}

#include "native/screens/SettingsDialog.h"

#include "app/core/Settings.h"
#include "native/services/NativeController.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

using namespace kvr::core;
using namespace kvr::services;

namespace kvr::screens {

NativeSettingsDialog::NativeSettingsDialog(QWidget* parent) : NativeDialogBase(parent)
{
    setWindowTitle(QStringLiteral("Settings"));
    setMinimumWidth(480);
    m_poll = new QCheckBox(QStringLiteral("Check devices automatically while the app is open"));
    m_poll->setChecked(NativeController::pollEnabled());
    m_interval = new QSpinBox;
    m_interval->setRange(1, 60);
    m_interval->setSuffix(QStringLiteral(" min"));
    m_interval->setValue(NativeController::pollMinutes());
    m_window = new QSpinBox;
    m_window->setRange(1, 120);
    m_window->setSuffix(QStringLiteral(" days"));
    m_window->setValue(NativeController::windowDays());
    m_nativeMode = new QCheckBox(QStringLiteral("Open in native mode every time the app starts"));
    m_nativeMode->setChecked(Prefs::get(Prefs::kNativeMode));

    auto* content = new QWidget;
    auto* v = new QVBoxLayout(content);
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(12);
    v->addWidget(m_poll);
    v->addWidget(NativeUi::captioned(QStringLiteral("Check every"), m_interval));
    v->addWidget(
        NativeUi::label(QStringLiteral("Uptime graphs fill in from these checks. Hours when the app is closed "
                                       "have no data. A device whose login was refused is left alone until you "
                                       "run a check on it by hand, so the NVR does not lock the account."),
                        "NMuted"));
    v->addWidget(NativeUi::captioned(QStringLiteral("Recording retention window"), m_window));
    v->addWidget(NativeUi::label(
        QStringLiteral("Recorded days are counted against this many days (the Recording column)."), "NMuted"));
    v->addWidget(m_nativeMode);

    QHBoxLayout* buttons = NativeUi::frame(this, QStringLiteral("Settings"), content);
    QPushButton* cancel = NativeUi::button(QStringLiteral("Cancel"), "NSecondary");
    QPushButton* save = NativeUi::button(QStringLiteral("Save"), "NPrimary");
    save->setDefault(true);
    buttons->addWidget(cancel);
    buttons->addWidget(save);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(save, &QPushButton::clicked, this, &NativeSettingsDialog::save);
    m_interval->setEnabled(m_poll->isChecked());
    connect(m_poll, &QCheckBox::toggled, m_interval, &QWidget::setEnabled);
}

void NativeSettingsDialog::save()
{
    // The interval first, so a timer that switching checks on starts runs at it.
    NativeController::setPollMinutes(m_interval->value());
    NativeController::setWindowDays(m_window->value());
    NativeController::setPollEnabled(m_poll->isChecked());
    Prefs::set(Prefs::kNativeMode, m_nativeMode->isChecked());
    // Every choice lives in the one file: when it cannot be written, none is
    // kept, and the person hears it before the dialog goes.
    if (!Prefs::lastKept())
        NativeUi::info(this, QStringLiteral("Can’t save"), Prefs::notKeptText());
    accept();
}

} // namespace kvr::screens

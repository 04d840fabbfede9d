#include "server/shell/PresetsDialog.h"

#include "app/ui/Fitting.h"

#include "app/core/RequestTicket.h"
#include "app/ui/EnterButton.h"
#include "app/ui/ScreenFit.h"
#include "app/ui/Theme.h"
#include "server/api/ApiClient.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QVBoxLayout>

using namespace kvr::core;
using namespace kvr::ui;
using namespace kvr::api;

namespace kvr::shell {

namespace {

// A preset reads on two lines, its name over its count of cameras. Each
// line that is wider than the list is shortened with "…", keeping what tells
// it from the same line of the other presets (the whole name is
// the item's tool tip), and no item is wider than the list, so that the list
// never scrolls sideways.
class PresetItemDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        // Presets named alike keep what tells them apart.
        fitItemApart(option, index);
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        size.setWidth(0);
        return size;
    }
};

} // namespace

PresetsDialog::PresetsDialog(ApiClient& api, const QString& organisationId, QWidget* parent)
    : QDialog(parent),
      m_api(api),
      m_organisationId(organisationId)
{
    setWindowTitle(QStringLiteral("Presets"));
    ScreenFit::keepWithin(this, QSize(460, 420));
    setStyleSheet(Theme::appStyle());
    auto* v = new QVBoxLayout(this);
    v->setContentsMargins(22, 20, 22, 18);
    v->setSpacing(12);
    auto* title = new QLabel(QStringLiteral("Presets"), this);
    title->setObjectName(QStringLiteral("CardTitle"));
    v->addWidget(title);
    auto* hint = new QLabel(
        QStringLiteral("A preset is a saved set of cameras. Save one from the live wall with “Save as preset”."), this);
    hint->setObjectName(QStringLiteral("Muted"));
    hint->setWordWrap(true);
    v->addWidget(hint);
    m_list = new QListWidget(this);
    m_list->setObjectName(QStringLiteral("PresetList"));
    m_list->setAccessibleName(QStringLiteral("Presets"));
    m_list->setItemDelegate(new PresetItemDelegate(m_list));
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    v->addWidget(m_list, 1);
    auto* row = new QHBoxLayout();
    m_status = new QLabel(QStringLiteral("Loading…"), this);
    m_status->setObjectName(QStringLiteral("Muted"));
    row->addWidget(m_status, 1);
    auto* close = new QPushButton(QStringLiteral("Close"), this);
    close->setObjectName(QStringLiteral("Secondary"));
    close->setCursor(Qt::PointingHandCursor);
    row->addWidget(close);
    m_play = new QPushButton(QStringLiteral("Play on wall"), this);
    m_play->setObjectName(QStringLiteral("Primary"));
    m_play->setCursor(Qt::PointingHandCursor);
    m_play->setEnabled(false);
    row->addWidget(m_play);
    v->addLayout(row);

    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_play, &QPushButton::clicked, this, &PresetsDialog::playSelected);
    connect(m_list, &QListWidget::itemDoubleClicked, this, &PresetsDialog::playSelected);
    connect(m_list, &QListWidget::currentRowChanged, this, [this](int current) { m_play->setEnabled(current >= 0); });
    // Enter plays the chosen preset, not "Close".
    setEnterButton(this, m_play);
    load();
}

QString PresetsDialog::itemText(const Preset& preset)
{
    const auto n = preset.cameraIds.size();
    return QStringLiteral("%1\n%2 camera%3").arg(preset.name).arg(n).arg(n == 1 ? "" : "s");
}

void PresetsDialog::load()
{
    if (m_organisationId.isEmpty()) {
        m_status->setText(QStringLiteral("Your organisation could not be identified."));
        return;
    }
    const RequestTicket ticket = RequestTicket::heldBy(this);
    m_api.fetchPresets(m_organisationId, [this, ticket](const QList<Preset>& presets, const QString& error) {
        if (!ticket.current())
            return;
        m_presets = presets;
        m_list->clear();
        for (const Preset& p : presets) {
            auto* item = new QListWidgetItem(itemText(p), m_list);
            item->setToolTip(p.name);
        }
        m_status->setText(!error.isEmpty() ? error : presets.isEmpty() ? QStringLiteral("No presets yet.") : QString());
        if (!presets.isEmpty())
            m_list->setCurrentRow(0);
    });
}

void PresetsDialog::playSelected()
{
    const int row = m_list->currentRow();
    if (row < 0 || row >= m_presets.size())
        return;
    const Preset preset = m_presets.at(row);
    m_play->setEnabled(false);
    m_status->setText(QStringLiteral("Loading “%1”…").arg(preset.name));
    const RequestTicket ticket = RequestTicket::heldBy(this);
    m_api.fetchPresetCameras(preset.id,
                             [this, ticket, preset](const QList<PresetCamera>& cameras, const QString& error) {
                                 if (!ticket.current())
                                     return;
                                 m_play->setEnabled(true);
                                 if (!error.isEmpty()) {
                                     m_status->setText(error);
                                     return;
                                 }
                                 if (cameras.isEmpty()) {
                                     m_status->setText(QStringLiteral("This preset has no cameras."));
                                     return;
                                 }
                                 Q_EMIT playRequested(preset.name, cameras);
                                 accept();
                             });
}

} // namespace kvr::shell

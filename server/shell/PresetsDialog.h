#pragma once

#include "server/api/ApiTypes.h"

#include <QDialog>
#include <QList>

class QLabel;
class QListWidget;
class QPushButton;
namespace kvr::api {
class ApiClient;
} // namespace kvr::api

namespace kvr::shell {

// The organisation's presets; the chosen one is played on the camera wall.
class PresetsDialog : public QDialog {
    Q_OBJECT
public:
    PresetsDialog(api::ApiClient& api, const QString& organisationId, QWidget* parent = nullptr);

    void load();
    void playSelected();

    // "Entrances\n3 cameras".
    static QString itemText(const api::Preset& preset);

    QListWidget* list() const { return m_list; }
    QLabel* status() const { return m_status; }

Q_SIGNALS:
    void playRequested(const QString& presetName, const QList<api::PresetCamera>& cameras);

private:
    api::ApiClient& m_api;
    QString m_organisationId;
    QListWidget* m_list = nullptr;
    QLabel* m_status = nullptr;
    QPushButton* m_play = nullptr;
    QList<api::Preset> m_presets;
};

} // namespace kvr::shell

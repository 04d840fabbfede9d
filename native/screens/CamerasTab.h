#pragma once

#include "native/screens/NativeContext.h"
#include "native/screens/NativeStyle.h"

#include <QList>
#include <QString>
#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QVBoxLayout;

namespace kvr::screens {

// The device panel's cameras tab: one row per channel with its state, a
// name and blur threshold kept on this computer, and its snapshot and live
// buttons.
class CamerasTab : public QWidget {
    Q_OBJECT
public:
    explicit CamerasTab(const NativeContext& context, QWidget* parent = nullptr);

    void setDevice(const QString& id);
    QString signature() const;
    void refresh();
    void rebuild();
    void refreshRows(bool fresh);
    void save();
    // Whether a row holds a name the person typed, or a blur threshold they
    // set, that is not saved yet.
    bool hasChanges() const;
    // Forgets the rows' signature so the next refresh builds them anew.
    void clearSignature() { m_signature.clear(); }

    struct CameraRow {
        int channel = 0;
        NativeStyle::DiscDot* dot = nullptr;
        QLineEdit* name = nullptr;
        QSpinBox* blur = nullptr;
        QLabel* sub = nullptr;
        QString lastName;
        QPushButton* snapshot = nullptr;
        QPushButton* live = nullptr;
    };
    const QList<CameraRow>& rows() const { return m_rows; }
    QLabel* statusLine() const { return m_status; }
    QPushButton* saveButton() const { return m_save; }

private:
    NativeContext m_context;
    QString m_id;
    QString m_signature;
    QVBoxLayout* m_rowsLayout = nullptr;
    QWidget* m_rowsWidget = nullptr;
    QLabel* m_status = nullptr;
    QPushButton* m_save = nullptr;
    QPushButton* m_snapshots = nullptr;
    QList<CameraRow> m_rows;
};

} // namespace kvr::screens

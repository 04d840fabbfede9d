#pragma once

// Exports one of the four CSV reports of native mode to a file the user
// picks, for the whole fleet or one device.

#include "native/screens/NativeContext.h"
#include "native/screens/NativeUi.h"

#include <QDate>

class QComboBox;
class QDateEdit;
class QLabel;

namespace kvr::screens {

namespace NativeReportText {
// The word in the proposed file name ("uptime" .. "storage").
QString kindWord(int kind);
QString description(int kind);
// "<documents>/vigilo-<word>-<yyyyMMdd>.csv" for the day of the export.
QString proposedPath(const QString& documents, int kind, const QDate& today);
// The toast once a report is written: where it went, so it can be found.
QString exportedText(const QString& path);
// Whether the From and To dates apply to the kind.
bool usesDates(int kind);
} // namespace NativeReportText

class ReportDialog : public NativeDialogBase {
    Q_OBJECT
public:
    ReportDialog(const NativeContext& context, const QString& deviceId, QWidget* parent = nullptr);

    void exportReport();
    // The file written; empty until an export succeeded.
    QString savedPath() const { return m_savedPath; }

    QComboBox* kindField() const { return m_kind; }
    QDateEdit* fromField() const { return m_from; }
    QDateEdit* toField() const { return m_to; }
    QLabel* errorLabel() const { return m_error; }

private:
    void updateDescription();

    NativeContext m_context;
    QString m_deviceId;
    QComboBox* m_kind = nullptr;
    QComboBox* m_devices = nullptr;
    QDateEdit* m_from = nullptr;
    QDateEdit* m_to = nullptr;
    QLabel* m_description = nullptr;
    QLabel* m_error = nullptr;
    QString m_savedPath;
};

} // namespace kvr::screens

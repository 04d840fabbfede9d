#pragma once

// The device form (every field of one device), the "Add device" dialog
// around it, and the dialog that adds or edits a site. They only collect and
// check input; their callers store the result. The one exception is the
// form's "New site…" entry, which adds the site at once.

#include "native/screens/NativeContext.h"
#include "native/screens/NativeUi.h"
#include "native/services/NativeRecords.h"

#include <QList>
#include <QString>
#include <QWidget>

class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;

namespace kvr::screens {

class DeviceForm : public QWidget {
    Q_OBJECT
public:
    explicit DeviceForm(const NativeContext& context, QWidget* parent = nullptr);

    void setDevice(const services::Native::Device& device);
    // Every field as the form shows it, on the device it was given.
    services::Native::Device device() const;
    // `current` (the device as the store holds it now) with the fields the
    // person changed since setDevice() and only those: what a probe or
    // another window changed meanwhile (a channel count raised by "Fetch
    // device info", its cameras' settings) stays as it is now.
    services::Native::Device changesOnto(const services::Native::Device& current) const;
    // Whether a field differs from what setDevice() showed: the person typed
    // or picked something.
    bool hasChanges() const;
    // Empty when the input can be saved, else the sentence to show.
    QString problem() const;
    // The channel numbers named by a text such as "3, 5, 8-10", within
    // 1..channels, ascending, each once.
    static QList<int> parseChannels(const QString& text, int channels);
    void reloadSites(const QString& siteId);
    void brandChanged();
    void focusFirst();
    // Shows `problem` (a sentence of `problem()`, all of which are about the
    // address) under the address field and marks the field; an empty text
    // clears both. Editing the address clears them too.
    void showProblem(const QString& problem);

    // The fields, for tests and for the dialogs around the form.
    QComboBox* siteField() const { return m_site; }
    QLineEdit* nameField() const { return m_name; }
    QLineEdit* addressField() const { return m_address; }
    QSpinBox* httpPortField() const { return m_httpPort; }
    QComboBox* manufacturerField() const { return m_manufacturer; }
    QComboBox* typeField() const { return m_type; }
    QSpinBox* channelsField() const { return m_channels; }
    QLineEdit* usernameField() const { return m_username; }
    QLineEdit* passwordField() const { return m_password; }
    QPushButton* showPasswordButton() const { return m_showPassword; }
    QLineEdit* ignoredField() const { return m_ignored; }
    QLabel* addressError() const { return m_addressError; }

private:
    void onSiteActivated(int index);

    NativeContext m_context;
    services::Native::Device m_device;
    // What device() gave right after setDevice(), and the ignored channels as
    // written then: a field that still reads so was not changed.
    services::Native::Device m_shown;
    QString m_shownIgnored;
    QString m_lastSiteId;
    QComboBox* m_site = nullptr;
    QLineEdit* m_name = nullptr;
    QLineEdit* m_address = nullptr;
    QLabel* m_addressError = nullptr;
    QSpinBox* m_httpPort = nullptr;
    QSpinBox* m_rtspPort = nullptr;
    QSpinBox* m_serverPort = nullptr;
    QComboBox* m_manufacturer = nullptr;
    QComboBox* m_type = nullptr;
    QSpinBox* m_channels = nullptr;
    QLineEdit* m_username = nullptr;
    QLineEdit* m_password = nullptr;
    QPushButton* m_showPassword = nullptr;
    QLineEdit* m_ignored = nullptr;
};

class DeviceDialog : public NativeDialogBase {
    Q_OBJECT
public:
    DeviceDialog(const NativeContext& context, const QString& siteId, QWidget* parent = nullptr);

    DeviceForm* form() const { return m_form; }
    // Under the address field, which every refusal is about.
    QLabel* errorLabel() const { return m_form->addressError(); }
    void submit();
    bool hasChanges() const override { return m_form->hasChanges(); }

private:
    DeviceForm* m_form = nullptr;
};

class SiteDialog : public NativeDialogBase {
    Q_OBJECT
public:
    SiteDialog(const NativeContext& context, const QString& siteId, QWidget* parent = nullptr);

    services::Native::Site site() const;
    void submit();
    bool hasChanges() const override;

    QLineEdit* nameField() const { return m_name; }
    QLineEdit* addressField() const { return m_address; }
    QLineEdit* contactField() const { return m_contact; }
    QPlainTextEdit* notesField() const { return m_notes; }
    QLabel* errorLabel() const { return m_error; }
    QPushButton* mainButton() const { return m_main; }

private:
    services::Native::Site m_site;
    QLineEdit* m_name = nullptr;
    QLineEdit* m_address = nullptr;
    QLineEdit* m_contact = nullptr;
    QLineEdit* m_isp = nullptr;
    QLineEdit* m_sim = nullptr;
    QPlainTextEdit* m_notes = nullptr;
    QLabel* m_error = nullptr;
    QPushButton* m_main = nullptr;
};

} // namespace kvr::screens

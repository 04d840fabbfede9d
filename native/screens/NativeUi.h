#pragma once

// The factories every native screen builds its labels, buttons, captioned
// fields, dialog frames and notices with, so the object names the native
// style sheet selects are set one way everywhere; and the base of the native
// dialogs, which sizes a dialog to its content when it first shows.

#include <QDialog>
#include <QString>

class QHBoxLayout;
class QLabel;
class QPushButton;
class QWidget;

namespace kvr::screens {

namespace NativeUi {

// A word-wrapped label; a null object name leaves the name empty.
QLabel* label(const QString& text, const char* objectName = nullptr);
// A push button with the pointing-hand cursor.
QPushButton* button(const QString& text, const char* objectName = nullptr);
// Installs the dialog's whole layout: title, `content`, and a button row
// whose buttons (added by the caller) stand at the right-hand edge in the
// order added. Returns that row.
QHBoxLayout* frame(QDialog* dialog, const QString& title, QWidget* content);
// A modal notice with no icon and one Close button (through the Modal seam).
void info(QWidget* parent, const QString& title, const QString& text);
// A question (through the Modal seam) whose answer `act` does something that
// cannot be undone: that button red, `keep` the default and what Escape
// answers. True for `act`.
bool confirmDestructive(QWidget* parent, const QString& title, const QString& text, const QString& act,
                        const QString& keep);
// Asks whether typed changes that closing would throw away may go ("Keep
// editing" / "Discard"); true for Discard.
bool mayDiscard(QWidget* parent);
// The field with its caption above it. The caption label is the field's
// buddy, so the field is found by what the user reads.
QWidget* captioned(const QString& caption, QWidget* field);

} // namespace NativeUi

// The base of the native dialogs: the first time one shows it takes the size
// its content needs at its width; later shows keep the user's size. A dialog
// whose fields hold typed changes asks before Escape or its window's close
// control throws them away; its own Cancel discards them without asking.
class NativeDialogBase : public QDialog {
    Q_OBJECT
public:
    explicit NativeDialogBase(QWidget* parent = nullptr);

    QSize sizeHint() const override;
    void reject() override;
    // Closes, throwing typed changes away: the dialog's Cancel.
    void discard() { QDialog::reject(); }
    // Whether the fields hold changes the person made since the dialog
    // opened: by default, text typed into any of them.
    virtual bool hasChanges() const;

protected:
    void showEvent(QShowEvent* event) override;
    bool event(QEvent* event) override;

private:
    // The least height the content needs at the dialog's width (its wrapped
    // texts included), as the window's minimum, within the screen.
    void keepContentWhole();

    bool m_sized = false;
};

} // namespace kvr::screens

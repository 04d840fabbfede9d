#pragma once

#include <QDialog>
#include <QStringList>

#include <functional>

class QButtonGroup;
class QUrl;
class QFrame;
class QLabel;
class QPushButton;

namespace kvr::shell {

// The playback settings of server mode. Every choice is stored the moment it
// is clicked; there is no Cancel.
class SettingsDialog : public QDialog {
    Q_OBJECT
public:
    explicit SettingsDialog(QWidget* parent = nullptr);

    // The segment checked on opening for a stored drawing mode.
    static int renderModeIndex(const QString& mode);
    // The segments of each row in order: live view, camera wall, decoding, drawing.
    QList<QButtonGroup*> groups() const { return m_groups; }

    // As wide as its rows ask, and as tall as their wrapped hints need at
    // that width.
    QSize sizeHint() const override;

    // What asking the desktop to open a folder came to. Most desktops report
    // success as soon as their opener program has started, whether or not a
    // file browser then shows the folder: that is Started, not Opened.
    enum class FolderOpen { Opened, Started, Failed };
    // What opens a folder in the desktop's file browser; tests stand in for
    // the desktop. Null restores the desktop's.
    using FolderOpener = std::function<FolderOpen(const QUrl&)>;
    static void setFolderOpener(FolderOpener opener);
    // Where the log folder is, said under "Open log folder" when the desktop
    // cannot tell whether anything opened it; hidden otherwise.
    QWidget* logFolderNote() const { return m_logNote; }
    // What the dialog says of a choice the settings file could not keep;
    // hidden while choices are kept.
    QLabel* notKeptNote() const { return m_notKept; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    QFrame* segmented(const QStringList& labels, int checked, std::function<void(int)> pick);
    // Opens the log folder, or says where it is when nothing can open it or
    // whether anything did is not known.
    void openLogFolder();
    static FolderOpen openWithDesktop(const QUrl& url);
    // Says whether the choice just made was kept.
    void said(bool kept);
    void growToFit();

    QList<QButtonGroup*> m_groups;
    QPushButton* m_logFolder = nullptr;
    QWidget* m_logNote = nullptr;
    QLabel* m_logNoteText = nullptr;
    QLabel* m_notKept = nullptr;
    bool m_sizedOnce = false;
};

} // namespace kvr::shell

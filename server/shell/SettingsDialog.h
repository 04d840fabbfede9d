#pragma once

#include <QDialog>
#include <QStringList>

#include <functional>

class QButtonGroup;
class QUrl;
class QFrame;
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

    // What opens a folder in the desktop's file browser (false: nothing
    // could); tests stand in for the desktop. Null restores the desktop's.
    using FolderOpener = std::function<bool(const QUrl&)>;
    static void setFolderOpener(FolderOpener opener);

protected:
    void showEvent(QShowEvent* event) override;

private:
    QFrame* segmented(const QStringList& labels, int checked, std::function<void(int)> pick);
    // Opens the log folder, or says where it is when nothing can open it.
    void openLogFolder();

    QList<QButtonGroup*> m_groups;
    QPushButton* m_logFolder = nullptr;
    bool m_sizedOnce = false;
};

} // namespace kvr::shell

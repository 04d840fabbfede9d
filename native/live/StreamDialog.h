#pragma once

// The native mode's single-camera player: a modal, resizable black window
// with one large video surface and a slim bar under it, playing one channel
// of one device live (Main or Sub) or one recorded range. The address comes
// from a function handed in, so the dialog knows nothing of brands.

#include <QDateTime>
#include <QDialog>
#include <QString>

#include <functional>

class QPushButton;
class QTimer;
namespace kvr::video {
class FfmpegPlayer;
class VideoStage;
} // namespace kvr::video

namespace kvr::live {

class StreamDialog : public QDialog {
    Q_OBJECT
public:
    using UrlFor = std::function<QString(bool main)>;

    StreamDialog(const QString& heading, const QString& deviceName, UrlFor urlFor, bool live,
                 QWidget* parent = nullptr);
    ~StreamDialog() override;

    void start();
    void selectStream(bool main);
    // Shows `text` in plain words; `cause`, the player's own words behind
    // it, goes to the log.
    void fail(const QString& text, const QString& cause = QString());
    void done(int result) override;

    // Both run the dialog modally and return when it closes.
    static void openLive(QWidget* parent, const QString& deviceId, int channel);
    static void openPlayback(QWidget* parent, const QString& deviceId, int channel, bool main, const QDateTime& start,
                             const QDateTime& end);
    // "<channel> <camera name>", or "<channel> Camera" without a record.
    static QString heading(int channel, const QString* cameraLabel);

    // For tests.
    bool isMain() const { return m_main; }
    bool hadPicture() const { return m_hadPicture; }
    video::FfmpegPlayer* player() const { return m_player; }
    video::VideoStage* stage() const { return m_stage; }
    QPushButton* retryButton() const { return m_retry; }
    QPushButton* mainButton() const { return m_mainButton; }
    QPushButton* subButton() const { return m_subButton; }
    QPushButton* closeButton() const { return m_close; }
    QTimer* noPictureTimer() const { return m_timer; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void onPicture();

    UrlFor m_urlFor;
    const bool m_live;
    bool m_main = false;
    QString m_host; // the address the stream is played from
    bool m_hadPicture = false;
    bool m_started = false;
    video::FfmpegPlayer* m_player = nullptr;
    video::VideoStage* m_stage = nullptr;
    QPushButton* m_mainButton = nullptr;
    QPushButton* m_subButton = nullptr;
    QPushButton* m_retry = nullptr;
    QPushButton* m_close = nullptr;
    QTimer* m_timer = nullptr;
};

} // namespace kvr::live

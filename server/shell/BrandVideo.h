#pragma once

#include <QWidget>

namespace kvr::video {
class FfmpegPlayer;
class VideoStage;
} // namespace kvr::video

namespace kvr::shell {

// The brand film beside the sign-in form: played silently and in a loop,
// filling its column and cropped to it, while the column is shown.
class BrandVideo : public QWidget {
    Q_OBJECT
public:
    explicit BrandVideo(QWidget* parent = nullptr);

    // The film's copy in the temporary folder (the player opens files by
    // path), written when missing or of another size; empty when none can be made.
    static QString localCopy();
    // The same from any resource into any folder (for tests).
    static QString copyOut(const QString& resource, const QString& folder);

    video::FfmpegPlayer* player() const { return m_player; }
    video::VideoStage* stage() const { return m_stage; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    video::VideoStage* m_stage = nullptr;
    video::FfmpegPlayer* m_player = nullptr;
};

} // namespace kvr::shell

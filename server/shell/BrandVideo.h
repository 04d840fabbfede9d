#pragma once

#include <QWidget>

class FfmpegPlayer;
class VideoStage;

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

    FfmpegPlayer* player() const { return m_player; }
    VideoStage* stage() const { return m_stage; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    VideoStage* m_stage = nullptr;
    FfmpegPlayer* m_player = nullptr;
};

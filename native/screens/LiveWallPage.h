#pragma once

// The second page of the native main window, the live and playback wall. It
// is built by the native live view, a layer above these screens, which hands
// its page to the window (NativeWindow::setWallPage); until then the page
// slot holds an empty stand-in that keeps the page's place.

#include <QWidget>

namespace kvr::screens {

class LiveWallPage : public QWidget {
    Q_OBJECT
public:
    explicit LiveWallPage(QWidget* parent = nullptr) : QWidget(parent) {}

    // Starts the page's streams (the page became visible).
    virtual void activate() { m_active = true; }
    // Stops them (the page was left, or the window hidden or minimised).
    virtual void deactivate() { m_active = false; }
    virtual bool isActive() const { return m_active; }

Q_SIGNALS:
    // The page's way back to the fleet page.
    void openVigiloRequested();

protected:
    bool m_active = false;
};

} // namespace kvr::screens

#pragma once

#include <QWidget>

// The main window of native mode.
class NativeWindow : public QWidget {
    Q_OBJECT
public:
    explicit NativeWindow(QWidget* parent = nullptr);

    // The "Use server sign-in" action: remembers server mode, then leaves.
    void useServerSignIn();

Q_SIGNALS:
    void leaveNative();
};

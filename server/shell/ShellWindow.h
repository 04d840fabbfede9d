#pragma once

#include <QWidget>

// The main window of server mode.
class ShellWindow : public QWidget {
    Q_OBJECT
public:
    explicit ShellWindow(QWidget* parent = nullptr);

    // Starts the background checks and loads the chosen organisation's catalogue.
    void loadCatalog();
    int catalogLoads() const { return m_catalogLoads; }

Q_SIGNALS:
    void signedOut();

private:
    int m_catalogLoads = 0;
};

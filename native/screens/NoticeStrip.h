#pragma once

// A strip across the top of the fleet page that says what happened to the
// program's own files: a save that failed, a file that could not be read at
// start. It stays until the person dismisses it or the trouble is over.

#include <QFrame>
#include <QMap>
#include <QString>
#include <QStringList>

class QLabel;
class QPushButton;

namespace kvr::screens {

class NoticeStrip : public QFrame {
    Q_OBJECT
public:
    explicit NoticeStrip(QWidget* parent = nullptr);

    // Says `text` under `topic` (one sentence per topic, the latest kept);
    // an empty text takes the topic's sentence back.
    void say(const QString& topic, const QString& text);
    // What it says now, topic by topic.
    QStringList lines() const { return m_lines.values(); }
    QLabel* label() const { return m_label; }
    QPushButton* dismissButton() const { return m_dismiss; }

private:
    void show();

    QLabel* m_label = nullptr;
    QPushButton* m_dismiss = nullptr;
    QMap<QString, QString> m_lines;
};

} // namespace kvr::screens

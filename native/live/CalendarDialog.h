#pragma once

// For one native device: which days its recorder holds recordings of a
// chosen camera and stream (a month grid), the coverage of the recording
// window with the days missing in it, and the recorded clips of a picked day,
// any of which plays in the stream dialog. The device is asked one request
// at a time; learned months are kept while the dialog lives.

#include "app/core/RequestTicket.h"
#include "native/live/CalendarRules.h"

#include <QDate>
#include <QDialog>
#include <QList>
#include <QString>

#include <functional>

class QComboBox;
class QFrame;
class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;

namespace kvr::live {

class MonthGrid;

class CalendarDialog : public QDialog {
    Q_OBJECT
public:
    CalendarDialog(const QString& deviceId, QWidget* parent = nullptr);

    int channel() const;
    bool mainStream() const;
    QDate windowStart() const;
    void reload();
    void showMonth();
    void ensureMonths(const QList<QDate>& months, const core::RequestTicket& ticket, std::function<void()> done);
    void updateCoverage();
    void selectDay(const QDate& day);
    void playSelected();
    void previousMonth();
    void nextMonth();

    // For tests.
    QDate month() const { return m_month; }
    QDate selected() const { return m_selected; }
    QList<services::NativeCalendar::Clip> clips() const { return m_clips; }
    bool isKnown(const QDate& month) const;
    MonthGrid* grid() const { return m_grid; }
    QLabel* coverageLabel() const { return m_coverageLabel; }
    QProgressBar* coverageBar() const { return m_coverageBar; }
    QFrame* banner() const { return m_banner; }
    QLabel* bannerLabel() const { return m_bannerLabel; }
    QLabel* noteLabel() const { return m_note; }
    QLabel* dayStatus() const { return m_dayStatus; }
    QListWidget* clipList() const { return m_clipList; }
    QPushButton* playButton() const { return m_play; }
    QPushButton* prevButton() const { return m_prev; }
    QPushButton* nextButton() const { return m_next; }
    QComboBox* channelBox() const { return m_channelBox; }
    QComboBox* streamBox() const { return m_streamBox; }
    int monthRequests() const { return m_monthRequests; }

private:
    CalendarRules::MonthKey keyFor(const QDate& month) const;
    QDate today() const;
    void onChannelChanged();
    void onStreamChanged();
    void updatePlay();

    const QString m_deviceId;
    QDate m_month;
    QDate m_selected;
    CalendarRules::MonthCache m_cache;
    QString m_lastError;
    core::TicketDesk m_reloads;
    core::TicketDesk m_days;
    QList<services::NativeCalendar::Clip> m_clips;
    int m_monthRequests = 0;

    QLabel* m_monthLabel = nullptr;
    QComboBox* m_channelBox = nullptr;
    QComboBox* m_streamBox = nullptr;
    QLabel* m_coverageLabel = nullptr;
    QProgressBar* m_coverageBar = nullptr;
    QFrame* m_banner = nullptr;
    QLabel* m_bannerLabel = nullptr;
    MonthGrid* m_grid = nullptr;
    QLabel* m_note = nullptr;
    QLabel* m_dayTitle = nullptr;
    QLabel* m_dayStatus = nullptr;
    QListWidget* m_clipList = nullptr;
    QPushButton* m_play = nullptr;
    QPushButton* m_prev = nullptr;
    QPushButton* m_next = nullptr;
};

} // namespace kvr::live

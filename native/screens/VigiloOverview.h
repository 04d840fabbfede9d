#pragma once

// The problem overview at the top of the fleet page: what needs attention
// now (the findings, as clickable rows), how the fleet's uptime went over the
// last seven days (a strip of coloured squares), and how each site stands.
// It holds no data: every refresh reads the inventory and the findings anew.

#include "native/screens/NativeContext.h"
#include "native/screens/NativeStyle.h"
#include "native/services/Verdicts.h"

#include <QFrame>
#include <QList>
#include <QPair>
#include <QString>
#include <QWidget>

#include <functional>

class QLabel;
class QPushButton;
class QVBoxLayout;

namespace kvr::screens {

// The rules of the overview, without widgets.
namespace NativeOverview {

inline constexpr int kCollapsedRows = 5;
inline constexpr int kExpandedRows = 60;
inline constexpr int kSiteRows = 12;

// The rich-text count note: critical, warnings, to note.
QString countNote(int problems, int warnings, int notes);

// How many findings there are of each level.
struct FindingCounts {
    int problems = 0;
    int warnings = 0;
    int notes = 0;
    int total() const { return problems + warnings + notes; }
};
FindingCounts countFindings(const QList<services::NativeInsights::Issue>& issues);
// The number written in a strip square ("100", "99.5", "98").
QString stripValueText(double value);
QColor stripColor(double value);
// The average label's text and colour.
QString averageText(double average);
QColor averageColor(double average);
// The bar level of a site row: "", "warn" or "bad".
QString siteLevel(const services::NativeInsights::SiteSummary& site);
// The line under a site's bar.
QString siteText(const services::NativeInsights::SiteSummary& site);
// The chips of a site row, in order.
QList<QPair<QString, NativeStyle::Chip>> siteChips(const services::NativeInsights::SiteSummary& site);
// The line that sums up the sites beyond the listed ones.
QString moreSitesText(const QList<services::NativeInsights::SiteSummary>& rest);
// The seven strip labels ending with "Today".
QStringList stripLabels(const QDate& today);

} // namespace NativeOverview

// Seven (or any number of) daily uptime squares with their labels.
class UptimeStrip : public QWidget {
    Q_OBJECT
public:
    explicit UptimeStrip(QWidget* parent = nullptr);

    void setDays(const QList<double>& values, const QStringList& labels);
    QSize sizeHint() const override;
    QRectF square(int index) const;
    // The tool tip for a position, empty when no square is there.
    QString tipAt(const QPoint& pos, const QDate& today) const;

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QList<double> m_values;
    QStringList m_labels;
};

class VigiloOverview : public QWidget {
    Q_OBJECT
public:
    explicit VigiloOverview(const NativeContext& context, QWidget* parent = nullptr);

    // Reads the findings, sites and fleet uptime from the services.
    void refresh();
    // Shows findings, sites and daily fleet uptime worked out elsewhere (the
    // main window keeps them between its rebuilds).
    void showFindings(const QList<services::NativeInsights::Issue>& issues,
                      const QList<services::NativeInsights::SiteSummary>& sites, const QList<double>& fleetDays,
                      bool inventoryEmpty);
    // The same from the first findings in order (at least as many as the
    // overview lists, kExpandedRows) and the counts of them all.
    void showFindings(const QList<services::NativeInsights::Issue>& first, const NativeOverview::FindingCounts& counts,
                      const QList<services::NativeInsights::SiteSummary>& sites, const QList<double>& fleetDays,
                      bool inventoryEmpty);
    bool isExpanded() const { return m_expanded; }

    // Widgets the tests read.
    QLabel* countNoteLabel() const { return m_note; }
    QPushButton* showAllButton() const { return m_showAll; }
    UptimeStrip* strip() const { return m_strip; }
    QVBoxLayout* findingList() const { return m_findings; }
    QVBoxLayout* siteList() const { return m_sites; }

Q_SIGNALS:
    void openDevice(const QString& id);
    // A site's row was clicked: its name, or empty for the row of devices
    // without a site.
    void siteClicked(const QString& name);

private:
    QFrame* issueRow(const QString& deviceId, int level, const QString& title, const QString& deviceLabel,
                     const QString& detail);
    QFrame* siteRow(const services::NativeInsights::SiteSummary& site);
    // Puts the rows in the Tab order where the page shows them.
    void keepReadingOrder();

    NativeContext m_context;
    bool m_expanded = false;
    // What the last show() was given, for "Show all".
    QList<services::NativeInsights::Issue> m_issues; // the first ones
    NativeOverview::FindingCounts m_counts;
    QList<services::NativeInsights::SiteSummary> m_siteRows;
    QList<double> m_days;
    bool m_inventoryEmpty = true;
    QLabel* m_note = nullptr;
    QVBoxLayout* m_findings = nullptr;
    QPushButton* m_showAll = nullptr;
    QLabel* m_average = nullptr;
    UptimeStrip* m_strip = nullptr;
    QVBoxLayout* m_sites = nullptr;
};

} // namespace kvr::screens

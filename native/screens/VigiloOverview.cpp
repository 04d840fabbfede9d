#include "native/screens/VigiloOverview.h"

#include "app/core/ShownText.h"
#include "app/core/TextDirection.h"
#include "app/ui/Fitting.h"
#include "app/ui/WheelGuard.h"
#include "native/screens/NativeUi.h"
#include "native/services/NativeStore.h"
#include "native/services/Verdicts.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QHash>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QStringList>
#include <QToolTip>
#include <QVBoxLayout>

#include <vector>

using namespace kvr::ui;
using namespace kvr::services;

namespace kvr::screens {

using NativeInsights::SiteSummary;

namespace NativeOverview {

QString countNote(int problems, int warnings, int notes)
{
    QStringList parts;
    if (problems >= 1)
        parts << QStringLiteral("<span style='color:%1; font-weight:600;'>%2 critical</span>")
                     .arg(NativeStyle::kDanger.name())
                     .arg(problems);
    if (warnings >= 1)
        parts << QStringLiteral("<span style='color:%1; font-weight:600;'>%2 warning%3</span>")
                     .arg(NativeStyle::kWarnText.name())
                     .arg(warnings)
                     .arg(warnings == 1 ? QString() : QStringLiteral("s"));
    if (notes >= 1)
        parts << QStringLiteral("%1 to note").arg(notes);
    return parts.join(QStringLiteral(" &nbsp;·&nbsp; "));
}

FindingCounts countFindings(const QList<NativeInsights::Issue>& issues)
{
    FindingCounts c;
    for (const NativeInsights::Issue& i : issues) {
        if (i.level == NativeInsights::Problem)
            ++c.problems;
        else if (i.level == NativeInsights::Warning)
            ++c.warnings;
        else
            ++c.notes;
    }
    return c;
}

QString stripValueText(double v)
{
    if (v >= 99.95)
        return QStringLiteral("100");
    return QString::number(v, 'f', v >= 99.5 ? 1 : 0);
}

QColor stripColor(double v)
{
    if (v < 0)
        return NativeStyle::kHairline;
    if (v >= 99)
        return NativeStyle::kSuccess;
    if (v >= 90)
        return NativeStyle::kWarning;
    return NativeStyle::kDanger;
}

QString averageText(double average)
{
    return average < 0 ? QStringLiteral("No data yet") : QStringLiteral("%1%").arg(average, 0, 'f', 1);
}

QColor averageColor(double average)
{
    if (average < 0)
        return NativeStyle::kMuted;
    if (average >= 99)
        return NativeStyle::kSuccess;
    if (average >= 90)
        return NativeStyle::kWarnText;
    return NativeStyle::kDanger;
}

QString siteLevel(const SiteSummary& s)
{
    if (s.checked == 0)
        return QStringLiteral("warn");
    const int pct = s.up * 100 / qMax(s.devices, 1);
    if (pct >= 100)
        return QString();
    return pct >= 75 ? QStringLiteral("warn") : QStringLiteral("bad");
}

QString siteText(const SiteSummary& s)
{
    QString text = QStringLiteral("%1/%2 devices up").arg(s.up).arg(s.devices);
    if (s.devices > s.checked)
        text += QStringLiteral(" (%1 not checked)").arg(s.devices - s.checked);
    if (s.cameras >= 1) {
        if (s.camerasKnown >= 1)
            text += QStringLiteral(" · %1/%2 cameras").arg(s.camerasOnline).arg(s.cameras);
        else
            text += QStringLiteral(" · %1 cameras").arg(s.cameras);
    }
    return text;
}

QList<QPair<QString, NativeStyle::Chip>> siteChips(const SiteSummary& s)
{
    QList<QPair<QString, NativeStyle::Chip>> out;
    if (s.problems >= 1)
        out.append(
            {QStringLiteral("%1 problem%2").arg(s.problems).arg(s.problems == 1 ? QString() : QStringLiteral("s")),
             NativeStyle::Chip::Fail});
    if (s.warnings >= 1)
        out.append(
            {QStringLiteral("%1 warning%2").arg(s.warnings).arg(s.warnings == 1 ? QString() : QStringLiteral("s")),
             NativeStyle::Chip::Warn});
    if (s.checked == s.devices && s.problems == 0 && s.warnings == 0)
        out.append({QStringLiteral("All good"), NativeStyle::Chip::Pass});
    return out;
}

QString moreSitesText(const QList<SiteSummary>& rest)
{
    int warn = 0, unchecked = 0, good = 0;
    for (const SiteSummary& s : rest) {
        if (s.problems + s.warnings >= 1)
            ++warn;
        else if (s.checked < s.devices)
            ++unchecked;
        else
            ++good;
    }
    QStringList parts;
    if (warn >= 1)
        parts << QStringLiteral("%1 with warnings").arg(warn);
    if (unchecked >= 1)
        parts << QStringLiteral("%1 not checked yet").arg(unchecked);
    if (good >= 1)
        parts << QStringLiteral("%1 all good").arg(good);
    return QStringLiteral("%1 more sites: %2. Search to find one.")
        .arg(rest.size())
        .arg(parts.join(QStringLiteral(", ")));
}

QStringList stripLabels(const QDate& today)
{
    QStringList out;
    const QLocale locale;
    for (int i = 6; i >= 1; --i)
        out << locale.toString(today.addDays(-i), QStringLiteral("ddd"));
    out << QStringLiteral("Today");
    return out;
}

} // namespace NativeOverview

namespace {

// A row of the overview that acts on a left click. The action leaves the
// click's handler through a queued call on the overview: it may open a modal
// dialog, during which a refresh deletes this row.
// The keyboard reaches it by Tab and acts with Space or Enter, like a button.
class ClickRow : public QFrame {
public:
    ClickRow(QObject* context, std::function<void()> action) : m_context(context), m_action(std::move(action))
    {
        setFocusPolicy(Qt::StrongFocus);
    }

protected:
    void mouseReleaseEvent(QMouseEvent* event) override
    {
        if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
            act();
        QFrame::mouseReleaseEvent(event);
    }

    void keyPressEvent(QKeyEvent* event) override
    {
        switch (event->key()) {
        case Qt::Key_Space:
        case Qt::Key_Return:
        case Qt::Key_Enter:
            act();
            return;
        default:
            QFrame::keyPressEvent(event);
        }
    }

private:
    void act()
    {
        if (m_action && m_context)
            QMetaObject::invokeMethod(m_context, m_action, Qt::QueuedConnection);
    }

    QPointer<QObject> m_context;
    std::function<void()> m_action;
};

// Brings a list to these rows: a row whose key is unchanged stays as it is
// (new widgets are costly to style and lay out, and a busy fleet refreshes
// the overview often with the same findings); any other is made anew by
// `make`. Rows that go are hidden at once and deleted later, since one may
// be the row whose click is being handled.
void syncList(QVBoxLayout* list, const QStringList& keys, const std::function<QWidget*(int)>& make)
{
    for (int i = 0; i < keys.size(); ++i) {
        QLayoutItem* item = list->itemAt(i);
        QWidget* old = item ? item->widget() : nullptr;
        if (old && old->property("rowKey").toString() == keys.at(i))
            continue;
        QWidget* fresh = make(i);
        fresh->setProperty("rowKey", keys.at(i));
        if (old) {
            list->removeWidget(old);
            old->hide();
            old->deleteLater();
        }
        list->insertWidget(i, fresh);
    }
    while (list->count() > keys.size()) {
        QLayoutItem* item = list->takeAt(list->count() - 1);
        if (QWidget* w = item->widget()) {
            w->hide();
            w->deleteLater();
        }
        delete item;
    }
}

QString labelKey(const QString& text)
{
    return QStringLiteral("label|") + text;
}

QVBoxLayout* pane(QWidget* parent, const QString& title, QLabel** note, QHBoxLayout** header, QVBoxLayout** outer)
{
    auto* w = new QWidget(parent);
    w->setObjectName(QStringLiteral("NPane"));
    w->setAttribute(Qt::WA_StyledBackground);
    auto* v = new QVBoxLayout(w);
    v->setContentsMargins(16, 14, 16, 12);
    v->setSpacing(8);
    auto* h = new QHBoxLayout;
    h->addWidget(NativeUi::label(title, "NSection"));
    h->addStretch();
    *note = NativeUi::label(QString(), "NMuted");
    (*note)->setWordWrap(false);
    (*note)->setTextFormat(Qt::RichText);
    h->addWidget(*note);
    v->addLayout(h);
    *header = h;
    *outer = v;
    auto* scroll = new QScrollArea;
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setAccessibleName(title);
    WheelGuard::guard(scroll);
    auto* content = new QWidget;
    auto* list = new QVBoxLayout(content);
    list->setContentsMargins(0, 0, 4, 0);
    list->setSpacing(2);
    list->setAlignment(Qt::AlignTop);
    scroll->setWidget(content);
    v->addWidget(scroll, 1);
    return list;
}

} // namespace

// ---- UptimeStrip ----------------------------------------------------------------------

UptimeStrip::UptimeStrip(QWidget* parent) : QWidget(parent)
{
    setMouseTracking(true);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setAccessibleName(QStringLiteral("Fleet uptime, last 7 days"));
}

void UptimeStrip::setDays(const QList<double>& values, const QStringList& labels)
{
    m_values = values;
    m_labels = labels;
    updateGeometry();
    update();
}

QSize UptimeStrip::sizeHint() const
{
    return {int(40 * m_values.size()), m_labels.isEmpty() ? 24 : 40};
}

QRectF UptimeStrip::square(int i) const
{
    const int n = qMax(int(m_values.size()), 1);
    const double w = qMin((width() - 4.0 * (n - 1)) / n, 64.0);
    return {(w + 4) * i, 0, w, 24};
}

QString UptimeStrip::tipAt(const QPoint& pos, const QDate& today) const
{
    for (int i = 0; i < m_values.size(); ++i) {
        const QRectF sq = square(i);
        const QRectF hit(sq.x() - 2, -2, sq.width() + 4, 44);
        if (!hit.contains(pos))
            continue;
        const QDate day = today.addDays(-(m_values.size() - 1 - i));
        const QString date = QLocale().toString(day, QStringLiteral("ddd d MMM"));
        const double v = m_values.at(i);
        return v < 0 ? QStringLiteral("%1: no checks").arg(date)
                     : QStringLiteral("%1: %2% up").arg(date).arg(v, 0, 'f', 1);
    }
    return {};
}

bool UptimeStrip::event(QEvent* e)
{
    if (e->type() != QEvent::ToolTip)
        return QWidget::event(e);
    auto* help = static_cast<QHelpEvent*>(e);
    const QString tip = tipAt(help->pos(), NativeContext::today());
    QToolTip::showText(help->globalPos(), tip, this);
    return true;
}

void UptimeStrip::paintEvent(QPaintEvent*)
{
    if (m_values.isEmpty())
        return;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QFont f = font();
    f.setPixelSize(11);
    for (int i = 0; i < m_values.size(); ++i) {
        const QRectF sq = square(i);
        const double v = m_values.at(i);
        const QColor fill = NativeOverview::stripColor(v);
        p.setPen(Qt::NoPen);
        p.setBrush(fill);
        p.drawRoundedRect(sq, 5, 5);
        if (v >= 0 && sq.width() >= 34) {
            QFont bold = f;
            bold.setWeight(QFont::DemiBold);
            p.setFont(bold);
            p.setPen(fill == NativeStyle::kWarning ? NativeStyle::kOnAmber : NativeStyle::kWhite);
            p.drawText(sq, Qt::AlignCenter, NativeOverview::stripValueText(v));
        }
        if (i < m_labels.size()) {
            p.setFont(f);
            p.setPen(NativeStyle::kMuted);
            p.drawText(QRectF(sq.x() - 6, 26, sq.width() + 12, 14), Qt::AlignCenter, m_labels.at(i));
        }
    }
}

// ---- VigiloOverview ---------------------------------------------------------------------

VigiloOverview::VigiloOverview(const NativeContext& context, QWidget* parent) : QWidget(parent), m_context(context)
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(12);
    setFixedHeight(300);

    QHBoxLayout* header = nullptr;
    QVBoxLayout* outer = nullptr;
    m_findings = pane(this, QStringLiteral("Needs attention"), &m_note, &header, &outer);
    m_showAll = NativeUi::button(QStringLiteral("Show all"), "NText");
    m_showAll->setStyleSheet(QStringLiteral("min-height: 24px; max-height: 24px; font-size: 12px;"));
    header->addWidget(m_showAll);
    row->addWidget(outer->parentWidget(), 3);
    connect(m_showAll, &QPushButton::clicked, this, [this] {
        m_expanded = !m_expanded;
        showFindings(m_issues, m_counts, m_siteRows, m_days, m_inventoryEmpty);
    });

    QLabel* siteNote = nullptr;
    m_sites = pane(this, QStringLiteral("Sites"), &siteNote, &header, &outer);
    siteNote->setText(QStringLiteral("Click a site to list its devices"));
    auto* block = new QWidget;
    auto* bv = new QVBoxLayout(block);
    bv->setContentsMargins(0, 0, 0, 6);
    bv->setSpacing(6);
    auto* top = new QHBoxLayout;
    top->addWidget(NativeUi::label(QStringLiteral("Device uptime, last 7 days"), "NMuted"));
    top->addStretch();
    m_average = NativeUi::label(QString(), "NSection");
    m_average->setWordWrap(false);
    top->addWidget(m_average);
    bv->addLayout(top);
    m_strip = new UptimeStrip;
    bv->addWidget(m_strip);
    bv->addSpacing(4);
    auto* hair = new QFrame;
    hair->setObjectName(QStringLiteral("NHair"));
    bv->addWidget(hair);
    outer->insertWidget(1, block);
    row->addWidget(outer->parentWidget(), 2);

    refresh();
}

void VigiloOverview::refresh()
{
    const QDateTime now = NativeContext::now();
    const NativeInsights::Sources sources = m_context.sources();
    const NativeStore& store = *m_context.store;
    showFindings(NativeInsights::issues(sources, now), NativeInsights::sites(sources, now),
                 NativeInsights::fleetDailyUptime(store, 7, now), store.devices().isEmpty());
}

void VigiloOverview::showFindings(const QList<NativeInsights::Issue>& issues, const QList<SiteSummary>& sites,
                                  const QList<double>& days, bool inventoryEmpty)
{
    showFindings(issues.mid(0, NativeOverview::kExpandedRows), NativeOverview::countFindings(issues), sites, days,
                 inventoryEmpty);
}

void VigiloOverview::showFindings(const QList<NativeInsights::Issue>& issues,
                                  const NativeOverview::FindingCounts& counts, const QList<SiteSummary>& sites,
                                  const QList<double>& days, bool inventoryEmpty)
{
    m_issues = issues;
    m_counts = counts;
    m_siteRows = sites;
    m_days = days;
    m_inventoryEmpty = inventoryEmpty;
    const QDateTime now = NativeContext::now();
    const int total = counts.total();

    m_note->setText(NativeOverview::countNote(counts.problems, counts.warnings, counts.notes));
    QStringList keys;
    std::vector<std::function<QWidget*()>> makers;
    if (total == 0) {
        const QString text = inventoryEmpty ? QStringLiteral("Add a device to see its health here.")
                                            : QStringLiteral("All clear. Every active device passed its last check.");
        keys << labelKey(text);
        makers.emplace_back([text] {
            QLabel* empty = NativeUi::label(text, "NEmpty");
            empty->setContentsMargins(8, 10, 8, 10);
            return empty;
        });
    } else {
        const NativeStore& store = *m_context.store;
        const int n = qMin(int(qMin(issues.size(), qsizetype(total))),
                           m_expanded ? NativeOverview::kExpandedRows : NativeOverview::kCollapsedRows);
        for (int i = 0; i < n; ++i) {
            const NativeInsights::Issue issue = issues.at(i);
            // The devices of the listed findings only, each found by its id.
            const std::optional<Native::Device> d = store.device(issue.deviceId);
            if (!d)
                continue; // removed since: counted, not listed
            QString label = kvr::core::TextDirection::isolate(Native::deviceLabel(*d));
            const QString site = kvr::core::shownText(store.siteName(d->siteId));
            if (!site.isEmpty())
                label += QStringLiteral(" · ") + kvr::core::TextDirection::isolate(site);
            const QString shape =
                QStringLiteral("issue|%1|%2|%3|%4").arg(issue.level).arg(issue.deviceId, issue.title, label);
            const QString key = shape + QLatin1Char('|') + issue.detail;
            // The same finding of the same device, told in other words (how
            // long ago, mostly): its row stays and takes the new detail.
            QLayoutItem* item = m_findings->itemAt(int(keys.size()));
            QWidget* old = item ? item->widget() : nullptr;
            if (old && old->property("rowShape").toString() == shape && old->property("rowKey").toString() != key) {
                if (auto* detail = old->findChild<ElidedLabel*>(QStringLiteral("NIssueDetail"))) {
                    detail->setFullText(issue.detail);
                    old->setToolTip(issue.detail);
                    old->setProperty("rowKey", key);
                }
            }
            keys << key;
            makers.emplace_back([this, issue, label, shape] {
                QFrame* row = issueRow(issue.deviceId, issue.level, issue.title, label, issue.detail);
                row->setProperty("rowShape", shape);
                return row;
            });
        }
        if (m_expanded && total > NativeOverview::kExpandedRows) {
            const QString text = QStringLiteral("and %1 more. Use the filters below to go through them.")
                                     .arg(total - NativeOverview::kExpandedRows);
            keys << labelKey(text);
            makers.emplace_back([text] { return NativeUi::label(text, "NMuted"); });
        }
    }
    syncList(m_findings, keys, [&makers](int i) { return makers.at(size_t(i))(); });
    m_showAll->setVisible(total > NativeOverview::kCollapsedRows);
    m_showAll->setText(m_expanded ? QStringLiteral("Show fewer") : QStringLiteral("Show all %1").arg(total));

    m_strip->setDays(days, NativeOverview::stripLabels(now.toLocalTime().date()));
    const double avg = NativeInsights::average(days);
    m_average->setText(NativeOverview::averageText(avg));
    // A new style sheet restyles the label: set it only when the colour changes.
    const QString averageSheet = QStringLiteral("color: %1;").arg(NativeOverview::averageColor(avg).name());
    if (m_average->styleSheet() != averageSheet)
        m_average->setStyleSheet(averageSheet);

    QStringList siteKeys;
    std::vector<std::function<QWidget*()>> siteMakers;
    if (sites.isEmpty()) {
        siteKeys << labelKey(QStringLiteral("No active devices."));
        siteMakers.emplace_back([] { return NativeUi::label(QStringLiteral("No active devices."), "NEmpty"); });
    }
    for (int i = 0; i < qMin(int(sites.size()), NativeOverview::kSiteRows); ++i) {
        const SiteSummary site = sites.at(i);
        siteKeys << QStringLiteral("site|%1|%2|%3,%4,%5,%6,%7,%8,%9")
                        .arg(site.name, site.subtitle)
                        .arg(site.devices)
                        .arg(site.up)
                        .arg(site.checked)
                        .arg(site.cameras)
                        .arg(site.camerasOnline)
                        .arg(site.camerasKnown)
                        .arg(site.problems * 100000 + site.warnings);
        siteMakers.emplace_back([this, site] { return siteRow(site); });
    }
    if (sites.size() > NativeOverview::kSiteRows) {
        const QString text = NativeOverview::moreSitesText(sites.mid(NativeOverview::kSiteRows));
        siteKeys << labelKey(text);
        siteMakers.emplace_back([text] {
            QLabel* more = NativeUi::label(text, "NMuted");
            more->setContentsMargins(8, 6, 8, 6);
            return more;
        });
    }
    syncList(m_sites, siteKeys, [&siteMakers](int i) { return siteMakers.at(size_t(i))(); });
    keepReadingOrder();
}

void VigiloOverview::keepReadingOrder()
{
    // Rows made after the window was built would come last to Tab, after the
    // device table; they follow "Show all" instead, the findings before the
    // sites, as the page reads.
    // Each list's scroll area comes before its rows: "Show all", above the
    // findings, before both.
    QWidget* previous = m_showAll;
    for (QVBoxLayout* list : {m_findings, m_sites}) {
        QWidget* content = list->parentWidget();
        QWidget* viewport = content ? content->parentWidget() : nullptr;
        if (auto* area = qobject_cast<QScrollArea*>(viewport ? viewport->parentWidget() : nullptr);
            area && area->focusPolicy() != Qt::NoFocus) {
            QWidget::setTabOrder(previous, area);
            previous = area;
        }
        for (int i = 0; i < list->count(); ++i) {
            QWidget* row = list->itemAt(i)->widget();
            if (!row || row->focusPolicy() == Qt::NoFocus)
                continue;
            QWidget::setTabOrder(previous, row);
            previous = row;
        }
    }
}

QFrame* VigiloOverview::issueRow(const QString& deviceId, int level, const QString& title, const QString& deviceLabel,
                                 const QString& detail)
{
    auto* row = new ClickRow(this, [this, deviceId] { Q_EMIT openDevice(deviceId); });
    row->setObjectName(QStringLiteral("NIssue"));
    row->setAttribute(Qt::WA_StyledBackground);
    row->setCursor(Qt::PointingHandCursor);
    row->setToolTip(detail);
    row->setAccessibleName(QStringLiteral("%1, %2").arg(title, deviceLabel));
    auto* h = new QHBoxLayout(row);
    h->setContentsMargins(8, 6, 8, 6);
    h->setSpacing(10);
    auto* accent = new QFrame;
    accent->setObjectName(QStringLiteral("NAccent"));
    accent->setFixedHeight(32);
    const QColor colour = level == 0 ? NativeStyle::kDanger : level == 1 ? NativeStyle::kWarning : NativeStyle::kInfo;
    accent->setStyleSheet(QStringLiteral("background: %1;").arg(colour.name()));
    h->addWidget(accent);
    auto* col = new QVBoxLayout;
    col->setSpacing(1);
    auto* top = new QHBoxLayout;
    top->setSpacing(8);
    auto* titleLabel = new QLabel(title);
    titleLabel->setObjectName(QStringLiteral("NIssueTitle"));
    top->addWidget(titleLabel);
    auto* devLabel = new ElidedLabel(deviceLabel);
    devLabel->setObjectName(QStringLiteral("NMuted"));
    devLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    top->addWidget(devLabel, 1);
    col->addLayout(top);
    auto* detailLabel = new ElidedLabel(detail);
    detailLabel->setObjectName(QStringLiteral("NIssueDetail"));
    detailLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    col->addWidget(detailLabel);
    h->addLayout(col, 1);
    auto* view = new QLabel(QStringLiteral("View"));
    view->setObjectName(QStringLiteral("NLink"));
    h->addWidget(view);
    return row;
}

QFrame* VigiloOverview::siteRow(const SiteSummary& s)
{
    // The row of devices without a site lists nothing by name: its label is
    // no site's name (a real site may even be called that).
    const QString name = s.siteId.isEmpty() ? QString() : s.name;
    auto* row = new ClickRow(this, [this, name] { Q_EMIT siteClicked(name); });
    row->setObjectName(QStringLiteral("NIssue"));
    row->setAttribute(Qt::WA_StyledBackground);
    row->setCursor(Qt::PointingHandCursor);
    row->setAccessibleName(s.name);
    auto* v = new QVBoxLayout(row);
    v->setContentsMargins(8, 6, 8, 6);
    v->setSpacing(4);
    // On a narrow pane the name, the provider and the counts are shortened,
    // with their whole text in a tool tip; the chips keep their size.
    auto* top = new QHBoxLayout;
    top->setSpacing(8);
    auto* nameLabel = new ElidedLabel(s.name);
    nameLabel->setObjectName(QStringLiteral("NIssueTitle"));
    top->addWidget(nameLabel);
    if (!s.subtitle.isEmpty()) {
        auto* sub = new ElidedLabel(s.subtitle);
        sub->setObjectName(QStringLiteral("NMuted"));
        sub->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        top->addWidget(sub, 1);
    } else {
        top->addStretch(1);
    }
    for (const auto& [text, kind] : NativeOverview::siteChips(s))
        top->addWidget(NativeStyle::chip(text, kind));
    v->addLayout(top);
    auto* bottom = new QHBoxLayout;
    bottom->setSpacing(10);
    auto* bar = new QProgressBar;
    bar->setTextVisible(false);
    bar->setRange(0, qMax(s.devices, 1));
    bar->setValue(s.up);
    bar->setProperty("level", NativeOverview::siteLevel(s));
    bar->setAccessibleName(QStringLiteral("Devices up at %1").arg(s.name));
    bottom->addWidget(bar, 1);
    auto* text = new ElidedLabel(NativeOverview::siteText(s));
    text->setObjectName(QStringLiteral("NMuted"));
    bottom->addWidget(text);
    v->addLayout(bottom);
    return row;
}

} // namespace kvr::screens

// The pieces that keep texts readable as space runs out: the wrapping row
// (fitted to its lines, and at its items' size hints), the shortened label, the label that keeps its room, the fields sized to
// their widest text, and camera titles that give up their device part first.
#include "app/ui/Fitting.h"
#include "app/ui/LayoutTools.h"
#include "app/ui/NamesApart.h"
#include "app/ui/Theme.h"
#include "tests/support/LongNames.h"
#include "tests/support/TestKit.h"

#include <QComboBox>
#include <QDateEdit>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QHash>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QSet>
#include <QStandardItemModel>
#include <QTextLayout>
#include <QTimeEdit>

using namespace kvr::ui;

namespace {

QPushButton* fixed(const QString& text, int width, QWidget* parent)
{
    auto* b = new QPushButton(text, parent);
    b->setFixedSize(width, 30);
    return b;
}

// The font of a camera tile's name.
QFont tileNameFont()
{
    Theme::loadFonts();
    QFont font("Inter");
    font.setPixelSize(12);
    font.setWeight(QFont::DemiBold);
    return font;
}

const QChar kEllipsis(0x2026);
const QString kJoin(" \u00B7 ");

bool isBidiControl(QChar c)
{
    return (c.unicode() >= 0x2066 && c.unicode() <= 0x2069) || (c.unicode() >= 0x202A && c.unicode() <= 0x202E);
}

// A shown text as a person reads it: without "…", direction controls and the
// spaces around them.
QString readable(QString s)
{
    s.remove(kEllipsis);
    s.removeIf(isBidiControl);
    return s.simplified();
}

bool rightToLeft(const QString& text)
{
    for (QChar c : text) {
        if (c.direction() == QChar::DirL)
            return false;
        if (c.direction() == QChar::DirR || c.direction() == QChar::DirAL)
            return true;
    }
    return false;
}

// The middle of where the character at `at` of `layout`'s text is drawn.
qreal drawnAt(const QTextLayout& layout, qsizetype at)
{
    QRectF drawn;
    for (const QGlyphRun& run : layout.glyphRuns(int(at), 1))
        drawn |= run.boundingRect();
    return drawn.center().x();
}

// Each "…" of `shown` (a shortened form of `whole`, a name or a camera
// title) drawn where it does not stand for what it leaves out: a name whose
// end is left out ends with "…" on the side where it reads to (the left of a
// right-to-left name), one whose start is left out begins with it on the
// other side. Laid out as a label lays it out (in the direction of its first
// letter outside isolated parts) and as a view's cell does (left to right).
QStringList ellipsesOnTheWrongSide(const QString& shown, const QString& whole, const QFont& font)
{
    QStringList faults;
    const qsizetype cut = cameraTitleDeviceEnd(whole);
    const qsizetype shownCut = cut > 0 ? shown.indexOf(kJoin) : -1;
    for (bool asLabel : {true, false}) {
        QTextLayout layout(shown, font);
        QTextOption option;
        option.setTextDirection(asLabel && shown.isRightToLeft() ? Qt::RightToLeft : Qt::LeftToRight);
        layout.setTextOption(option);
        layout.beginLayout();
        layout.createLine();
        layout.endLayout();
        for (qsizetype e = shown.indexOf(kEllipsis); e >= 0; e = shown.indexOf(kEllipsis, e + 1)) {
            // The part of the title it stands in, and that part's direction.
            const bool inDevice = shownCut >= 0 && e < shownCut;
            const qsizetype from = inDevice || shownCut < 0 ? 0 : shownCut + kJoin.size();
            const qsizetype to = inDevice ? shownCut : shown.size();
            const QString part = cut <= 0 ? whole : (inDevice ? whole.left(cut) : whole.mid(cut + kJoin.size()));
            const bool rtl = rightToLeft(part);
            qsizetype before = e - 1;
            while (before >= from && (shown.at(before).isSpace() || isBidiControl(shown.at(before))))
                --before;
            qsizetype after = e + 1;
            while (after < to && (shown.at(after).isSpace() || isBidiControl(shown.at(after))))
                ++after;
            // Kept text before it: it stands for what follows; else for what
            // comes before the kept text after it.
            const bool standsForEnd = before >= from && shown.at(before) != kEllipsis;
            const qsizetype kept = standsForEnd ? before : after;
            if (kept >= to || shown.at(kept) == kEllipsis)
                continue;
            const bool leftOfKept = drawnAt(layout, e) < drawnAt(layout, kept);
            const bool wanted = standsForEnd ? rtl : !rtl;
            if (leftOfKept != wanted)
                faults << QString("\"%1\" (%2): its \"…\" stands at the %3 of \"%4\"")
                              .arg(shown, asLabel ? "as a label" : "in a view", leftOfKept ? "left" : "right",
                                   shown.at(kept));
        }
    }
    return faults;
}

} // namespace

class TestFitting : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Side by side while they fit, leading items left and trailing items
    // right; then line by line in their order, an item wider than a line
    // given the line, hidden items taking no room, and the height growing
    // with the lines.
    void rowWrapsAsSpaceRunsOut()
    {
        QWidget host;
        auto* row = new WrapRow(&host, 10, 6);
        QPushButton* title = fixed("title", 200, &host);
        QPushButton* a = fixed("a", 100, &host);
        QPushButton* b = fixed("b", 100, &host);
        QPushButton* c = fixed("c", 100, &host);
        row->addLeading(title);
        row->addTrailing(a);
        row->addTrailing(b);
        row->addTrailing(c);
        using Lines = QList<QList<int>>;
        QCOMPARE(row->lines(600), (Lines{{0, 1, 2, 3}}));
        QCOMPARE(row->lines(529), (Lines{{0, 1, 2}, {3}}));
        QCOMPARE(row->lines(150), (Lines{{0}, {1}, {2}, {3}}));
        QCOMPARE(row->heightForWidth(600), 30);
        QCOMPARE(row->heightForWidth(529), 66);

        host.resize(700, 100);
        host.show();
        QVERIFY(QTest::qWaitForWindowExposed(&host));
        QCOMPARE(title->geometry(), QRect(0, 0, 200, 30));
        QCOMPARE(c->geometry().right(), 699);
        QCOMPARE(a->geometry().left(), 700 - 3 * 100 - 2 * 10);

        // Wrapped lines keep the trailing side.
        row->setGeometry(QRect(0, 0, 529, 66));
        QCOMPARE(c->geometry(), QRect(429, 36, 100, 30));
        // Too narrow for an item: it gets the whole line.
        title->setMinimumWidth(0);
        title->setMaximumWidth(QWIDGETSIZE_MAX);
        title->setText(QStringLiteral("A title far longer than the line"));
        row->setGeometry(QRect(0, 0, 120, 200));
        QCOMPARE(title->width(), 120);
        // A hidden item neither takes room nor breaks a line.
        b->hide();
        QCOMPARE(row->lines(600), (Lines{{0, 1, 3}}));

        // A field that grows takes what its line leaves over.
        QWidget other;
        auto* searchRow = new WrapRow(&other, 8, 8);
        auto* search = new QLineEdit(&other);
        search->setFixedHeight(30);
        search->setMinimumWidth(150);
        searchRow->addLeading(search);
        searchRow->addTrailing(fixed("Refresh", 100, &other));
        searchRow->setGeometry(QRect(0, 0, 600, 30));
        QCOMPARE(search->width(), 600 - 100 - 8);
    }

    // At size hints: items as they ask, at the top of their line; an item
    // wider than the line stands alone on it without an empty line before
    // it, and an item without height does not count as something on its
    // line. The row asks for its largest item and does not grow.
    void rowAtHintsFlows()
    {
        using S = QSize;
        using R = QRect;
        const std::tuple<QList<QSize>, int, QList<QRect>, int> cases[] = {
            {{S(40, 20), S(50, 30)}, 200, {R(0, 0, 40, 20), R(48, 0, 50, 30)}, 30}, // one line
            {{S(60, 20), S(60, 30), S(60, 10)},
             130,
             {R(0, 0, 60, 20), R(68, 0, 60, 30), R(0, 36, 60, 10)},
             46}, // wraps
            // Too wide stands alone, with no empty line before it.
            {{S(300, 20), S(30, 20)}, 100, {R(0, 0, 300, 20), R(0, 26, 30, 20)}, 46},
            // A zero-height start does not count as something on the line.
            {{S(80, 0), S(80, 20)}, 100, {R(0, 0, 80, 0), R(88, 0, 80, 20)}, 20},
        };
        for (const auto& [items, width, placed, height] : cases) {
            WrapRow flow(nullptr, 8, 6, WrapRow::Sizing::AtHint);
            for (const QSize& s : items)
                flow.addItem(new QSpacerItem(s.width(), s.height(), QSizePolicy::Fixed, QSizePolicy::Fixed));
            QCOMPARE(flow.heightForWidth(width), height);
            QCOMPARE(flow.arrange(QRect(10, 20, width, 500), false), height);
            flow.setGeometry(QRect(0, 0, width, 500));
            for (int i = 0; i < placed.size(); ++i)
                QCOMPARE(flow.itemAt(i)->geometry(), placed.at(i));
            QCOMPARE(flow.itemAt(-1), nullptr);
            QCOMPARE(flow.takeAt(int(items.size())), nullptr);
        }
        WrapRow flow(nullptr, 8, 6, WrapRow::Sizing::AtHint);
        flow.addItem(new QSpacerItem(40, 20, QSizePolicy::Fixed, QSizePolicy::Fixed));
        flow.addItem(new QSpacerItem(50, 10, QSizePolicy::Fixed, QSizePolicy::Fixed));
        QCOMPARE(flow.sizeHint(), QSize(50, 20));
        QCOMPARE(flow.expandingDirections(), Qt::Orientations());
    }

    // A shortened label ends in "…", carries its whole text in its tool tip
    // and for a screen reader, and gives all back when it has room again.
    // Emptying a layout before a rebuild: kept widgets survive, deleted ones
    // go at once (with those of nested layouts) or when control returns, and
    // the last items asked for stay in place.
    void emptyingALayout()
    {
        QWidget host;
        auto* row = new QHBoxLayout(&host);
        auto fill = [&] {
            QList<QPointer<QLabel>> made;
            for (int i = 0; i < 2; ++i) {
                made << new QLabel(QStringLiteral("x"));
                row->addWidget(made.last());
            }
            auto* inner = new QHBoxLayout;
            made << new QLabel(QStringLiteral("inner"));
            inner->addWidget(made.last());
            row->addLayout(inner);
            row->addStretch();
            return made;
        };

        QList<QPointer<QLabel>> made = fill();
        emptyLayout(row, OldWidgets::Kept);
        QCOMPARE(row->count(), 0);
        for (const auto& w : made)
            QVERIFY(w);

        qDeleteAll(made);
        made = fill();
        emptyLayout(row, OldWidgets::Deleted, 1);
        QCOMPARE(row->count(), 1);
        QVERIFY(row->itemAt(0)->spacerItem());
        for (const auto& w : made)
            QVERIFY(!w);

        delete row->takeAt(0);
        made = fill();
        emptyLayout(row, OldWidgets::DeletedLater);
        QCOMPARE(row->count(), 0);
        // Every one, those of the nested layout too, out of sight at once and
        // gone when control returns.
        for (const auto& w : made)
            QVERIFY(w && w->isHidden());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        for (const auto& w : made)
            QVERIFY(!w);
        emptyLayout(nullptr, OldWidgets::Deleted);
    }

    void labelShortensWithItsTextInATip()
    {
        ElidedLabel label;
        label.setFullText(QStringLiteral("Head Office · Andheri East Corporate Park"));
        const int whole = label.sizeHint().width();
        QVERIFY(label.minimumSizeHint().width() < whole / 3);
        label.show();
        QVERIFY(QTest::qWaitForWindowExposed(&label));
        label.resize(whole / 2, 30);
        QVERIFY(label.isShortened() && label.text().endsWith(QChar(0x2026)));
        QVERIFY(label.fontMetrics().horizontalAdvance(label.text()) <= label.width());
        QCOMPARE(label.toolTip(), label.fullText());
        QCOMPARE(label.accessibleName(), label.fullText());
        label.resize(whole + 10, 30);
        QVERIFY(!label.isShortened() && label.toolTip().isEmpty());
        QCOMPARE(label.text(), label.fullText());
    }

    // Room for the widest day and month names, for the hint of a field and
    // for the widest text a status label shows, whatever it shows now.
    void fieldsAndLabelsKeepTheirRoom()
    {
        QWidget host;
        host.setStyleSheet(Theme::appStyle());
        auto* day = new QDateEdit(QDate(2026, 5, 1), &host); // "Fri, 01 May": narrow
        day->setDisplayFormat(QStringLiteral("ddd, dd MMM yyyy"));
        day->setCalendarPopup(true);
        fitToWidestText(day);
        auto* time = new QTimeEdit(QTime(0, 0), &host);
        time->setDisplayFormat(QStringLiteral("HH:mm:ss"));
        time->setMinimumWidth(200); // asked for before: a floor
        fitToWidestText(time);
        auto* search = new QLineEdit(&host);
        search->setPlaceholderText(QStringLiteral("Search site, device or IP"));
        search->setClearButtonEnabled(true);
        fitPlaceholder(search);
        host.show();
        QVERIFY(QTest::qWaitForWindowExposed(&host));
        const QFontMetrics fm(day->font());
        const int wednesday = fm.horizontalAdvance(day->locale().toString(QDate(2026, 9, 30), "ddd, dd MMM yyyy"));
        QVERIFY2(day->minimumWidth() > wednesday + 18, qPrintable(QString::number(day->minimumWidth())));
        QCOMPARE(time->minimumWidth(), 200);
        QVERIFY(search->minimumWidth() > search->fontMetrics().horizontalAdvance(search->placeholderText()) + 16);

        SteadyLabel busy(QStringLiteral("Checking 999"));
        const int width = busy.sizeHint().width();
        QVERIFY(width > 0);
        busy.setText(QStringLiteral("Checking 3"));
        QCOMPARE(busy.sizeHint().width(), width);
        busy.setText(QString());
        QCOMPARE(busy.sizeHint().width(), width);
    }

    // A recorder's long name must not make all its tiles read alike: the
    // device part gives way, the camera's own name stays.
    void cameraTitlesKeepTheCameraName()
    {
        const QFontMetrics m(tileNameFont());
        const QString device = "Reception and lobby recorder (32 channel), main building, B1";
        QCOMPARE(fitCameraTitle("Gate · Camera 2", m, 400), QString("Gate · Camera 2"));
        // The room a tile's badge has on walls of 36, 25, 16 and 9 to a page
        // in the smallest window.
        for (int width : {90, 124, 168, 250}) {
            QSet<QString> read;
            for (int c = 1; c <= 32; ++c) {
                const QString camera = QString(" · Camera %1").arg(c);
                const QString shown = fitCameraTitle(device + camera, m, width);
                QVERIFY2(m.horizontalAdvance(shown) <= width && shown.endsWith(camera)
                             && (shown.startsWith("R") || shown.startsWith(QChar(0x2026))),
                         qPrintable(QString("%1 at %2 px").arg(shown).arg(width)));
                read.insert(shown);
            }
            QCOMPARE(read.size(), 32);
        }
        // Where even the device's first letter has no room, "…" stands for
        // it; a long camera name keeps its start behind it.
        QCOMPARE(fitCameraTitle(device + " · Camera 30", m, m.horizontalAdvance("R… · Camera 30") - 1),
                 QString(QChar(0x2026)) + " · Camera 30");
        const QString gate = fitCameraTitle(device + " · Main entrance turnstiles, facing the street", m, 120);
        QVERIFY2(gate.startsWith(QString(QChar(0x2026)) + " · Main entrance") && m.horizontalAdvance(gate) <= 120,
                 qPrintable(gate));
        // A site's name after "  ·  " is no device part: such a title is
        // shortened at its end, as is a title of one part.
        const int room = m.horizontalAdvance("Lobby camera  ·  Head Off");
        QCOMPARE(fitCameraTitle("Lobby camera  ·  Head Office, Tower B", m, room),
                 m.elidedText("Lobby camera  ·  Head Office, Tower B", Qt::ElideRight, room));
        QCOMPARE(fitCameraTitle(device, m, 100), m.elidedText(device, Qt::ElideRight, 100));
    }

    // Names alike at their start, as organisations name their cameras and
    // recorders, keep what tells each from its siblings wherever they must
    // be shortened, at word starts; they never run past their room.
    void namesReadApart()
    {
        const QFontMetrics m(tileNameFont());
        const QString e(QChar(0x2026));
        QStringList faults;
        const auto readApart = [&m, &faults](const QStringList& names, int width) {
            const QStringList shown = fitApart(names, m, width);
            QHash<QString, QString> seen;
            for (qsizetype i = 0; i < names.size(); ++i) {
                if (m.horizontalAdvance(shown.at(i)) > width)
                    faults << QString("%1 runs past %2 px").arg(shown.at(i)).arg(width);
                const QString before = seen.value(shown.at(i), names.at(i));
                if (before != names.at(i))
                    faults << QString("\"%1\" and \"%2\" both read \"%3\" at %4 px")
                                  .arg(before, names.at(i), shown.at(i))
                                  .arg(width);
                seen.insert(shown.at(i), names.at(i));
            }
            return shown;
        };
        // A wall of one recorder's cameras, all of them in one car park, and
        // one where they are mixed with cameras named by their number; towers
        // whose cameras differ at their start and at their end.
        const QString recorder = "Reception and lobby recorder (32 channel), main building, B1 · ";
        QStringList bays, mixed, towers;
        for (int c = 1; c <= 32; ++c) {
            const QString bay = QString("Car park level B1 ramp and bay row %1").arg(c);
            bays << recorder + bay;
            mixed << recorder + (c % 3 ? QString("Camera %1").arg(c) : bay);
        }
        for (const char* tower : {"A", "B"})
            for (int c = 1; c <= 24; ++c)
                towers << QString("Tower %1 second floor lift lobby east, camera %2 of 24")
                              .arg(tower)
                              .arg(c, 2, 10, QChar('0'));
        // The room a tile's name has on walls of 36, 25, 16 and 9.
        for (int width : {90, 124, 168, 250}) {
            // One recorder's cameras are told apart by their own names: the
            // recorder's is left out, and so are the words they share where
            // the name does not fit.
            const QStringList shown = readApart(bays, width);
            const QString bay = bays.at(11).mid(recorder.size());
            QVERIFY2(shown.at(11) == bay || (shown.at(11).startsWith(e) && shown.at(11).endsWith(" row 12")),
                     qPrintable(shown.at(11)));
            QCOMPARE(shown.at(11) == bay, m.horizontalAdvance(bay) <= width);
            readApart(mixed, width);
            // Two towers' cameras need both ends: not in 90 pixels.
            if (width > 90) {
                const QStringList tower = readApart(towers, width);
                QVERIFY2(tower.at(26).startsWith("Tower B") && tower.at(26).endsWith("03 of 24"),
                         qPrintable(tower.at(26)));
            }
        }
        // Recorders in a table among others: their start, what tells them
        // apart, and words around it as room allows.
        const QStringList fleet{"Warehouse fire exit recorder number 1", "Warehouse fire exit recorder number 2",
                                "Warehouse fire exit recorder number 3", "Head office reception recorder"};
        const QStringList table = readApart(fleet, m.horizontalAdvance(fleet.at(3)));
        QVERIFY2(table.at(1).startsWith("Warehouse") && table.at(1).endsWith(e + "number 2"), qPrintable(table.at(1)));
        QCOMPARE(table.at(3), fleet.at(3));
        // Where the end of the room still shows where they differ, a name is
        // shortened at its end like any text; alone, in its middle.
        const QStringList gates{"North gate camera above the loading dock", "South gate camera above the loading dock"};
        QCOMPARE(fitApart(gates, m, 100),
                 (QStringList{m.elidedText(gates.at(0), Qt::ElideRight, 100),
                              m.elidedText(gates.at(1), Qt::ElideRight, 100)}));
        QCOMPARE(fitApart(gates.at(0), {}, m, 100), m.elidedText(gates.at(0), Qt::ElideMiddle, 100));
        // Names alike whole cannot be told apart and are not tried; names
        // alike for 40 characters and more, a 200-character one, empty ones
        // and rooms down to nothing stay within their room.
        QCOMPARE(fitApart(QStringList(3, "Camera 1"), m, 40),
                 QStringList(3, m.elidedText("Camera 1", Qt::ElideMiddle, 40)));
        const QString forty = "Bhiwandi Distribution Centre, Warehouse ";
        const QStringList odd{forty + "4 north dock",
                              forty + "4 north dock, gate",
                              forty + "14 south",
                              QString(200, 'x'),
                              QString(),
                              forty};
        for (int width = 0; width <= 120; width += 7)
            for (const QString& shown : fitApart(odd, m, width))
                QVERIFY2(m.horizontalAdvance(shown) <= width, qPrintable(QString("%1 at %2").arg(shown).arg(width)));
        readApart(odd, 150);
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));
    }

    // Where camera names collide (two recorders' "Corridor camera 02 ..."),
    // what tells the tiles apart is the recorder: it shows, told apart, and
    // no two names read alike or nearly alike ("…02 view of …" beside
    // "…02 view of"); a wall whose names do not collide keeps its forms.
    void collidingCameraNamesShowTheirRecorder()
    {
        const QFontMetrics m(tileNameFont());
        const QChar e(0x2026);
        const auto bare = [e](QString s) { return s.remove(e).simplified(); };
        QStringList titles;
        for (int r = 1; r <= 2; ++r)
            for (int c = 1; c <= 18; ++c)
                titles << QString(
                              "Tower B corridor recorder number %1 \u00B7 Corridor camera %2 view of the lift lobby")
                              .arg(r)
                              .arg(c, 2, 10, QChar('0'));
        for (int width : {90, 124, 168, 250}) {
            const QStringList shown = fitApart(titles, m, width);
            for (qsizetype i = 0; i < shown.size(); ++i) {
                QVERIFY2(m.horizontalAdvance(shown.at(i)) <= width, qPrintable(shown.at(i)));
                const QString device = shown.at(i).section(QString(" \u00B7 "), 0, 0);
                QVERIFY2(device.endsWith(i < 18 ? "1" : "2"), qPrintable(shown.at(i)));
                for (qsizetype j = i + 1; j < shown.size(); ++j) {
                    const QString a = shown.at(i), b = shown.at(j);
                    const bool near = bare(a) == bare(b) || (a.endsWith(e) && bare(b).startsWith(bare(a)))
                        || (b.endsWith(e) && bare(a).startsWith(bare(b)));
                    QVERIFY2(!near, qPrintable(a + " | " + b));
                }
            }
        }
        // Names that do not collide are fitted as before.
        QStringList rooms;
        for (int c = 1; c <= 16; ++c)
            rooms << QString("Recorder A \u00B7 Second floor meeting rooms, camera %1").arg(c);
        QCOMPARE(fitApart(rooms, m, 90).at(11), QString(e) + "camera 12");
    }

    // A site's wall of 36 on a laptop (tiles of about 147 x 83 at 1280 x
    // 720), of names alike at their start: reception desks that differ in
    // their floor alone, lift lobbies of some of those floors, two
    // recorders' cameras of one name. No two titles read alike, each keeps a
    // whole word that every other title lacks, and the recorder shows only
    // on the tiles whose camera names another recorder has too.
    void longNamesOfAWallReadApart()
    {
        const QFontMetrics m(tileNameFont());
        const QString e(QChar(0x2026));
        const QString j(" \u00B7 ");
        const QList<longnames::Camera> estate = longnames::estate();
        const QStringList titles = longnames::titles(estate);
        // The room a name has on such a wall (87 px on the native wall, 91
        // on the camera wall), and on walls of 25 and 16.
        for (int width : {87, 91, 124, 168}) {
            const QStringList shown = fitApart(titles, m, width);
            QStringList faults = longnames::apartFaults(titles, shown);
            for (qsizetype i = 0; i < shown.size(); ++i) {
                if (m.horizontalAdvance(shown.at(i)) > width)
                    faults << QString("\"%1\" runs past %2 px").arg(shown.at(i)).arg(width);
                if (shown.at(i).contains(" \u00B7 ") != longnames::sharesItsName(estate, i))
                    faults << QString("\"%1\" shows its recorder wrongly").arg(shown.at(i));
                // What stands beside "…" are words: a start kept before an end
                // is not cut within a word ("Tow…07 of 24"), and no letter
                // stands alone beside it ("…B ground…").
                const QStringList pieces = shown.at(i).split(QChar(0x2026));
                if (pieces.size() == 2 && !pieces.first().isEmpty() && !pieces.last().isEmpty()
                    && !titles.at(i).contains(QRegularExpression("\\b" + pieces.first() + "\\b")))
                    faults << QString("\"%1\" keeps a start cut within a word").arg(shown.at(i));
                if (shown.at(i).contains(QRegularExpression("\u2026[A-Za-z]\\s")))
                    faults << QString("\"%1\" keeps a letter alone").arg(shown.at(i));
            }
            QVERIFY2(faults.isEmpty(), qPrintable(QString("at %1 px:\n").arg(width) + faults.join('\n')));
        }
        // Less room (a tile beside a failure's word, or its channel): where
        // no form that fits tells a reception desk from every other tile, it
        // keeps its floor, which tells it from most; a recorder whose name
        // has no room for what tells it apart is left out, not shown as "…".
        for (int width = 50; width <= 80; width += 6) {
            const QStringList shown = fitApart(titles, m, width);
            for (qsizetype i = 0; i < 12; ++i) {
                const QString floor = estate.at(i).name.section(' ', 2, 2);
                QVERIFY2(shown.at(i).contains(floor.left(3)),
                         qPrintable(QString("%1 at %2 px").arg(shown.at(i)).arg(width)));
            }
            for (const QString& s : shown)
                QVERIFY2(!s.startsWith(e + j), qPrintable(QString("%1 at %2 px").arg(s).arg(width)));
        }
    }

    // A recorder's name is no camera's: where the cameras' own names tell
    // them apart it is left out, also where it differs at its start (a
    // title shortened at its end would keep the recorder and lose the
    // camera); where two recorders' cameras share a name, the recorder shows
    // in what tells it apart, given way to the camera's name first.
    void recorderOnlyWhereCameraNamesCollide()
    {
        const QFontMetrics m(tileNameFont());
        const QString e(QChar(0x2026));
        const QString j(" \u00B7 ");
        const QStringList apart{"North block recorder" + j + "Gate camera",
                                "South block recorder" + j + "Lobby camera"};
        QCOMPARE(fitApart(apart, m, m.horizontalAdvance("North block recorder · Gate")),
                 (QStringList{"Gate camera", "Lobby camera"}));
        const QStringList named{"North block recorder" + j + "Lift lobby camera 2",
                                "South block recorder" + j + "Lift lobby camera 2",
                                "South block recorder" + j + "Stairs camera 1"};
        // Room for the camera's name whole and a few letters of its recorder.
        const int room = m.horizontalAdvance("North bl… · Lift lobby camera 2");
        const QStringList shown = fitApart(named, m, room);
        for (qsizetype i = 0; i < 2; ++i)
            QVERIFY2(shown.at(i).endsWith(j + "Lift lobby camera 2") && shown.at(i).startsWith(named.at(i).left(5))
                         && shown.at(i).contains(e),
                     qPrintable(shown.at(i)));
        QCOMPARE(shown.at(2), QString("Stairs camera 1"));
        // Less room: the recorder keeps no more than what tells it apart,
        // the camera's name the rest.
        for (const QString& s : fitApart(named, m, m.horizontalAdvance("North… · Lift lobby camera 2") - 12))
            QVERIFY2(s.startsWith("Stairs")
                         || (s.section(j, 1).startsWith("Lift lobby") && !s.section(j, 0, 0).contains(" ")),
                     qPrintable(s));
        // The recorder keeps the narrowest of what tells it apart (a word
        // of its middle here) where the camera's name then stays whole.
        const QStringList towers{"Lobby recorder, Tower B annexe" + j + "Camera 1",
                                 "Lobby recorder, main building" + j + "Camera 1", "Gate"};
        const QString annexe = fitApart(towers, m, 100).first();
        QVERIFY2(annexe.endsWith(j + "Camera 1") && annexe.startsWith(e), qPrintable(annexe));
    }

    // A wall of 120 (12 x 10): three recorders named alike but for their end,
    // each with "Camera 01" and on, and Arabic, Hebrew, French and German
    // names. Where space is short the camera's own part is kept before its
    // recorder's: each title of the three recorders keeps its camera's
    // number at every room that holds it; from the room that holds the
    // recorder's too ("…1 · …01"), no two of them read alike, and from a
    // little more no two titles of the wall do.
    void shortSpaceKeepsTheCamerasOwnPartFirst()
    {
        const QFontMetrics m(tileNameFont());
        const QList<longnames::Camera> wall = longnames::wallOf120(longnames::manyAlike());
        const QStringList titles = longnames::titles(wall);
        const int both = m.horizontalAdvance(QString(kEllipsis) + "1" + kJoin + kEllipsis + "01");
        for (int width = m.horizontalAdvance(QString(kEllipsis) + "01"); width <= 110; width += 3) {
            const QStringList shown = fitApart(titles, m, width);
            QStringList faults;
            for (qsizetype i = 0; i < shown.size(); ++i) {
                if (m.horizontalAdvance(shown.at(i)) > width)
                    faults << QString("\"%1\" runs past its room").arg(shown.at(i));
                if (i < 90 && !shown.at(i).contains(wall.at(i).name.section(' ', -1)))
                    faults << QString("\"%1\" loses its camera's number").arg(shown.at(i));
            }
            if (width >= both)
                faults += longnames::alikeFaults(titles.mid(0, 90), shown.mid(0, 90));
            if (width >= 80)
                faults += longnames::alikeFaults(titles, shown);
            QVERIFY2(faults.isEmpty(), qPrintable(QString("at %1 px:\n").arg(width) + faults.join('\n')));
        }
    }

    // Numbers are not all that is left of a title: where a camera's name
    // does not fit beside its recorder's, the recorder is left out, not the
    // camera's name cut to "…" ("…1 · …", the recorder's number alone).
    void numbersAreNotAllThatIsLeft()
    {
        const QFontMetrics m(tileNameFont());
        const QStringList many = longnames::titles(longnames::wallOf120(longnames::manyAlike()));
        const QStringList estate = longnames::titles(longnames::estate());
        for (const QStringList& titles : {many, estate}) {
            for (int width = 20; width <= 100; width += 4) {
                for (const QString& shown : fitApart(titles, m, width)) {
                    const qsizetype join = shown.indexOf(kJoin);
                    QVERIFY2(join < 0 || !readable(shown.mid(join + kJoin.size())).isEmpty(),
                             qPrintable(QString("\"%1\" at %2 px").arg(shown).arg(width)));
                }
            }
        }
    }

    // Right-to-left names keep their "…" on the side where they end (at the
    // left of a name whose end is left out), alone, in a title beside a
    // recorder's name of either direction, and fitted as a lone tile's
    // title; Arabic names cut at their end are told apart like others.
    void rightToLeftNamesEndWhereTheyEnd()
    {
        const QFont font = tileNameFont();
        const QFontMetrics m(font);
        const QList<longnames::Camera> catalogue = longnames::manyAlike();
        QStringList titles, hebrew, arabic;
        for (const longnames::Camera& c : catalogue.mid(150)) {
            titles << longnames::titles({c}).first();
            if (c.name.at(0).direction() == QChar::DirR)
                hebrew << c.name;
            else if (c.name.at(0).direction() == QChar::DirAL)
                arabic << c.name;
        }
        // The three recorders' first cameras beside an Arabic recorder's
        // cameras of their names.
        for (int r = 0; r < 3; ++r)
            titles << longnames::titles({catalogue.at(r * 50)}).first();
        titles << longnames::titles({{catalogue.at(150).recorder, catalogue.at(0).name}}).first();
        QStringList faults;
        for (const QStringList& names : {hebrew, arabic, titles}) {
            for (int width = 30; width <= 160; width += 10) {
                const QStringList shown = fitApart(names, m, width);
                for (qsizetype i = 0; i < names.size(); ++i) {
                    faults += ellipsesOnTheWrongSide(shown.at(i), names.at(i), font);
                    faults += ellipsesOnTheWrongSide(fitCameraTitle(names.at(i), m, width), names.at(i), font);
                }
                if (&names != &titles && width >= 100)
                    faults += longnames::alikeFaults(names, shown);
            }
        }
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));
    }

    // A paged wall's cameras are told apart from those of their page, and,
    // where their names recur on other pages, by their recorder: "Camera 01"
    // of the second recorder's page reads as that recorder's, not as the
    // first one's. Names that do not recur keep their forms.
    void namesRecurringOnOtherPagesShowTheirRecorder()
    {
        const QFontMetrics m(tileNameFont());
        const QList<longnames::Camera> catalogue = longnames::manyAlike();
        QStringList all;
        for (int r = 0; r < 3; ++r)
            all += longnames::titles(catalogue.mid(r * 50, 16));
        for (int page = 0; page < 3; ++page) {
            const QStringList shown = all.mid(page * 16, 16);
            for (const QString& title : shown) {
                const QString fitted = fitApart(title, shown, m, 100, all);
                QVERIFY2(fitted.contains(kJoin) && fitted.section(kJoin, 0, 0).endsWith(QString::number(page + 1))
                             && fitted.endsWith(title.section(kJoin, 1)),
                         qPrintable(fitted));
                QCOMPARE(fitApart(title, shown, m, 400, all), title);
            }
        }
        const QStringList rooms = longnames::titles(catalogue.mid(150, 16));
        for (const QString& title : rooms)
            QCOMPARE(fitApart(title, rooms.mid(0, 8), m, 90, rooms), fitApart(title, rooms.mid(0, 8), m, 90));
    }

    // A tree's rows of one kind under different parents are told apart from
    // every row at their depth, not only from those of their own parent.
    void rowsOfATreeToldApartAtTheirDepth()
    {
        QStandardItemModel model;
        for (int n = 1; n <= 3; ++n) {
            auto* site = new QStandardItem(QString("Site %1").arg(n));
            site->appendRow(new QStandardItem(QString("Warehouse fire exit recorder number %1").arg(n)));
            site->appendRow(new QStandardItem("Gate"));
            model.appendRow(site);
        }
        const QModelIndex second = model.index(0, 0, model.index(1, 0));
        QCOMPARE(levelTexts(second),
                 (QStringList{"Warehouse fire exit recorder number 1", "Gate", "Gate",
                              "Warehouse fire exit recorder number 3", "Gate"}));
        QCOMPARE(siblingTexts(second), QStringList{"Gate"});
        QStyleOptionViewItem option;
        option.rect = QRect(0, 0, 150, 20);
        option.text = second.data().toString();
        option.fontMetrics = QFontMetrics(tileNameFont());
        option.font = tileNameFont();
        fitItemApart(&option, second, true);
        QVERIFY2(option.text.endsWith("2") && option.text.contains(QChar(0x2026)), qPrintable(option.text));
    }

    // Tiles side by side count as siblings from the moment they stand in a
    // shown layout, and while their wall holds them back to show a few at a
    // time; hidden on purpose, they do not. Siblings that come, go, show or
    // hide have names fitted again, once a turn.
    void siblingsAsTheyComeAndGo()
    {
        QWidget host;
        auto* row = new QHBoxLayout(&host);
        row->addWidget(new QLabel("first"));
        host.show();
        QVERIFY(QTest::qWaitForWindowExposed(&host));
        auto* added = new QLabel("added");
        row->addWidget(added); // shown by the layout in a later turn
        QVERIFY(added->isHidden());
        QVERIFY(standsBeside(*added));
        auto* away = new QLabel("away");
        row->addWidget(away);
        away->hide();
        QVERIFY(!standsBeside(*away));
        auto* soon = new QLabel("soon");
        row->addWidget(soon);
        holdBack(soon);
        QVERIFY(soon->isHidden() && standsBeside(*soon));
        soon->show();
        soon->hide();
        QVERIFY(!standsBeside(*soon));

        int refits = 0;
        refitWithSiblings(added, [&refits] { ++refits; });
        QTest::qWait(20);
        refits = 0;
        auto* another = new QLabel("another");
        row->addWidget(another);
        away->show();
        QTRY_COMPARE(refits, 1);
        another->hide();
        QTRY_COMPARE(refits, 2);
        delete another;
        QTRY_COMPARE(refits, 3);
        QTest::qWait(20);
        QCOMPARE(refits, 3);
    }

    // A drop-down's entries too long for its column are shortened apart,
    // each readable whole in its tool tip, and the drop-down's own tip and
    // description are the chosen entry's whole text; fitted again, the
    // entries keep their whole texts.
    void dropDownEntriesShortenedWithTheirWholeText()
    {
        QComboBox combo;
        const QStringList wholes{"Warehouse fire exit recorder number 1", "Warehouse fire exit recorder number 2",
                                 "Gate"};
        combo.addItems(wholes);
        for (int pass = 0; pass < 2; ++pass) {
            fitItemsApart(&combo, 120);
            for (int i = 0; i < combo.count(); ++i) {
                const bool shortened = combo.itemText(i) != wholes.at(i);
                QCOMPARE(shortened, i < 2);
                QCOMPARE(combo.itemData(i, Qt::ToolTipRole).toString(), shortened ? wholes.at(i) : QString());
            }
        }
        QVERIFY(combo.itemText(0) != combo.itemText(1));
        QCOMPARE(combo.toolTip(), wholes.at(0));
        combo.setCurrentIndex(1);
        QCOMPARE(combo.toolTip(), wholes.at(1));
        QCOMPARE(combo.accessibleDescription(), wholes.at(1));
        combo.setCurrentIndex(2);
        QCOMPARE(combo.toolTip(), QString());
    }
};

KVR_TEST_MAIN(TestFitting)

#include "tst_fitting.moc"

// The screen audit finds each kind of fault it is for, and passes what is
// sound: for every check a small window with the fault, and the same window
// mended.

#include "tests/support/AuditPaint.h"
#include "tests/support/ScreenAudit.h"
#include "tests/support/TestKit.h"

#include "app/ui/Fitting.h"
#include "app/ui/MenuButtons.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QFormLayout>
#include <QFrame>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>
#include <functional>

using namespace kvr::ui;

using screenaudit::Check;

// Stands for the program's picture widget, which the audit knows by its
// class name: its messages are written to fit.
class VideoStage : public QWidget {
    Q_OBJECT
public:
    QString line;
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.fillRect(rect(), Qt::black);
        p.setPen(Qt::white);
        p.drawText(rect(), Qt::AlignCenter, line);
    }
};

namespace {

// A widget that paints what it is told: texts at places, and boxes.
class Painted : public QWidget {
public:
    struct Text {
        QRect rect;
        QString text;
    };
    QList<Text> texts;
    QList<QRect> boxes;
    QColor pen = Qt::white;
    QColor ground = Qt::black;
    bool clipped = false;
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.fillRect(rect(), ground);
        for (const QRect& b : boxes)
            p.fillRect(b, Qt::gray);
        p.setPen(pen);
        for (const Text& t : texts) {
            if (clipped)
                p.setClipRect(t.rect);
            p.drawText(t.rect.topLeft() + QPoint(0, p.fontMetrics().ascent()), t.text);
            p.setClipping(false);
        }
    }
};

// Shortens every item as if its cell were 40 pixels wide.
class NarrowDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        option->text = option->fontMetrics.elidedText(option->text, Qt::ElideRight, 40);
    }
};

bool has(const QStringList& faults, const QString& what)
{
    return std::any_of(faults.cbegin(), faults.cend(), [&](const QString& f) { return f.contains(what); });
}

void show(QWidget& w)
{
    w.show();
    if (!QTest::qWaitForWindowExposed(&w))
        qFatal("window not shown");
    QTest::qWait(50);
}

} // namespace

class TestScreenAuditKit : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setPixelSize(14);
        QApplication::setFont(font);
    }

    // Texts of labels, buttons and fields: squeezed, shortened without a
    // tip, pushed off their container; shortened though they fit; shortened
    // so that different texts read alike. A tipped text that does not fit,
    // and one that wraps, pass.
    void textsThatDoNotShowWhole()
    {
        QWidget window;
        window.setWindowTitle(QStringLiteral("Audit"));
        auto* column = new QVBoxLayout(&window);
        auto* squeezed = new QLabel(QStringLiteral("A label far too long for its room"));
        squeezed->setFixedWidth(60);
        auto* wrapped = new QLabel(QStringLiteral("A label long enough to wrap onto a second line here"));
        wrapped->setWordWrap(true);
        wrapped->setFixedWidth(120);
        wrapped->setMinimumHeight(wrapped->heightForWidth(120));
        auto* tipped = new QLabel(QStringLiteral("Head…"));
        tipped->setToolTip(QStringLiteral("Head office and the main gate"));
        tipped->setFixedWidth(tipped->fontMetrics().horizontalAdvance(tipped->text()) + 4);
        // A right-to-left name shortened and isolated, its tip isolated
        // otherwise: the marks are no text.
        auto* rtl = new QLabel(QStringLiteral("\u2067מצלמת…01\u2069"));
        rtl->setToolTip(QStringLiteral("\u2068מצלמת רציף טעינה צפון 01\u2069"));
        rtl->setFixedWidth(rtl->fontMetrics().horizontalAdvance(rtl->text()) + 4);
        auto* untipped = new QLabel(QStringLiteral("Ware…"));
        auto* roomy = new QLabel(QStringLiteral("Yard…"));
        roomy->setToolTip(QStringLiteral("Yard"));
        auto* narrow = new QPushButton(QStringLiteral("Save as preset"));
        narrow->setFixedWidth(40);
        auto* first = new ElidedLabel(QStringLiteral("Reception recorder · Camera 1"));
        auto* second = new ElidedLabel(QStringLiteral("Reception recorder · Camera 2"));
        for (ElidedLabel* l : {first, second})
            l->setFixedWidth(l->fontMetrics().horizontalAdvance(QStringLiteral("Reception recorder")));
        for (QWidget* w :
             std::initializer_list<QWidget*>{squeezed, wrapped, tipped, rtl, untipped, roomy, narrow, first, second})
            column->addWidget(w);
        auto* strip = new QWidget;
        strip->setFixedSize(50, 20);
        auto* pushedOff = new QLabel(QStringLiteral("Off"), strip);
        pushedOff->move(40, 0);
        column->addWidget(strip);
        show(window);

        const QStringList texts = screenaudit::run(Check::Text, &window);
        QVERIFY2(has(texts, "far too long") && has(texts, "\"Ware…\": shortened with \"…\" but has no tool tip")
                     && has(texts, "\"Save as preset\"") && has(texts, "\"Off\": cut off")
                     && has(texts, "\"Yard…\": shortened though its whole text fits"),
                 qPrintable(texts.join('\n')));
        QVERIFY2(!has(texts, "wrap onto") && !has(texts, "Head") && !has(texts, "מצלמת"), qPrintable(texts.join('\n')));
        QCOMPARE(texts.size(), 5);
        const QStringList alike = screenaudit::run(Check::Alike, &window);
        QVERIFY2(has(alike, "2 texts shortened to read the same"), qPrintable(alike.join('\n')));
    }

    // What item views paint: a line cut without "…", an item shortened
    // though it fits, items shortened to read alike, a shortened heading.
    void itemViewTexts()
    {
        QWidget window;
        auto* column = new QVBoxLayout(&window);
        auto* list = new QListWidget;
        list->setFixedWidth(200);
        list->addItem(QStringLiteral("Night shift: every entrance, gate and loading bay\n24 cameras"));
        auto* table = new QTableWidget(2, 1);
        table->setFixedWidth(220);
        table->setHorizontalHeaderLabels({QStringLiteral("A heading much wider than its column")});
        // A heading the program shortens itself.
        auto* shortening = new QTableWidget(1, 1);
        shortening->setFixedWidth(220);
        shortening->setHorizontalHeaderLabels({QStringLiteral("Last") + QChar(0x2026)});
        table->setItem(0, 0, new QTableWidgetItem(QStringLiteral("Reception recorder · Camera 1")));
        table->setItem(1, 0, new QTableWidgetItem(QStringLiteral("Reception recorder · Camera 2")));
        column->addWidget(list);
        column->addWidget(table);
        column->addWidget(shortening);
        show(window);
        QStringList faults = screenaudit::run(Check::Painted, &window);
        const QStringList alike = screenaudit::run(Check::Alike, &window);
        QVERIFY2(has(alike, "2 items read the same"), qPrintable(alike.join('\n')));
        QVERIFY2(has(faults, "\"Night shift: every entrance, gate and loading bay\" is cut")
                     && has(faults, "\"A heading much wider than its column\" is cut")
                     && has(faults, "the heading is shortened"),
                 qPrintable(faults.join('\n')));

        // Mended: the list's lines shortened to fit, the column wide enough.
        list->clear();
        list->addItem(list->fontMetrics().elidedText(
                          QStringLiteral("Night shift: every entrance, gate and loading bay"), Qt::ElideRight, 150)
                      + QStringLiteral("\n24 cameras"));
        table->setFixedWidth(600);
        table->setColumnWidth(0, 560);
        shortening->setHorizontalHeaderLabels({QStringLiteral("Last seen")});
        QTest::qWait(50);
        faults = screenaudit::run(Check::Painted, &window) + screenaudit::run(Check::Alike, &window);
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));

        // An item shortened though its cell would hold it whole (measured
        // with too little room).
        QListWidget tight;
        tight.setItemDelegate(new NarrowDelegate(&tight));
        tight.resize(300, 120);
        tight.addItem(QStringLiteral("Gate house camera"));
        show(tight);
        faults = screenaudit::run(Check::Painted, &tight);
        QVERIFY2(has(faults, "is shortened though its whole text fits"), qPrintable(faults.join('\n')));
    }

    // A tree's rows of one kind under different parents, shortened alike:
    // each site's fire exit recorder reads "Warehouse fire exit rec…". Told
    // apart only from the rows of its own parent they still read alike; told
    // apart across the tree, they pass.
    void treeRowsUnderParents()
    {
        QTreeWidget tree;
        tree.setHeaderHidden(true);
        tree.setFixedWidth(200);
        for (int site = 1; site <= 3; ++site) {
            auto* parent = new QTreeWidgetItem(&tree, {QStringLiteral("Site %1").arg(site)});
            new QTreeWidgetItem(parent, {QStringLiteral("Warehouse fire exit recorder number %1").arg(site)});
            new QTreeWidgetItem(parent, {QStringLiteral("Gate")});
        }
        tree.expandAll();
        show(tree);
        QStringList faults = screenaudit::run(Check::Alike, &tree);
        QVERIFY2(faults.size() == 1 && has(faults, "3 rows under 3 parents read the same"),
                 qPrintable(faults.join('\n')));
        auto* apart = new kvr::ui::ApartDelegate(&tree);
        tree.setItemDelegate(apart);
        tree.viewport()->update();
        QTest::qWait(20);
        faults = screenaudit::run(Check::Alike, &tree);
        QVERIFY2(has(faults, "rows under 3 parents read the same"), qPrintable(faults.join('\n')));

        // Mended.
        apart->setAcrossTree(true);
        tree.viewport()->update();
        QTest::qWait(20);
        faults = screenaudit::run(Check::Alike, &tree) + screenaudit::run(Check::Painted, &tree);
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));
    }

    // What other widgets paint: a message shortened, a text cut by its
    // clip, two texts running into each other, a text with a widget over it,
    // names shortened to read alike; and the words of a library.
    void paintedTextsAndWords()
    {
        QWidget window;
        window.resize(500, 300);
        auto* stage = new VideoStage(&window);
        stage->setGeometry(0, 0, 200, 100);
        stage->line = QStringLiteral("Can’t play this str") + QChar(0x2026);
        auto* canvas = new Painted(&window);
        canvas->setGeometry(220, 0, 260, 200);
        canvas->clipped = true;
        canvas->texts = {{QRect(10, 10, 30, 20), QStringLiteral("Cut by its clip")},
                         {QRect(10, 60, 200, 20), QStringLiteral("First")},
                         {QRect(20, 62, 200, 20), QStringLiteral("Second")},
                         {QRect(10, 100, 200, 20), QStringLiteral("Under a badge")},
                         {QRect(10, 140, 120, 20), QStringLiteral("Cam") + QChar(0x2026)},
                         {QRect(130, 140, 120, 20), QStringLiteral("Cam") + QChar(0x2026)},
                         {QRect(10, 170, 240, 20), QStringLiteral("Invalid data found when processing input")}};
        auto* badge = new QLabel(&window);
        badge->setAutoFillBackground(true);
        badge->setGeometry(220 + 10, 100, 40, 20);
        show(window);

        screenaudit::Setting setting;
        setting.jargon = {QStringLiteral("Invalid data found when processing input")};
        const QStringList painted = screenaudit::run(Check::Painted, &window, setting);
        QVERIFY2(has(painted, "\"Can’t play this str…\" is shortened") && has(painted, "\"Cut by its clip\" is cut")
                     && has(painted, "\"First\" runs into \"Second\"") && has(painted, "lies over \"Under a badge\""),
                 qPrintable(painted.join('\n')));
        QVERIFY(has(screenaudit::run(Check::Alike, &window), "2 texts shortened to read the same \"Cam…\""));
        QVERIFY(has(screenaudit::run(Check::Words, &window, setting), "shows a library's own words"));

        // Mended.
        stage->line = QStringLiteral("Can’t play");
        canvas->texts = {{QRect(10, 10, 200, 20), QStringLiteral("Whole")},
                         {QRect(10, 140, 120, 20), QStringLiteral("Cam") + QChar(0x2026) + QStringLiteral("12")},
                         {QRect(130, 140, 120, 20), QStringLiteral("Cam") + QChar(0x2026) + QStringLiteral("13")}};
        badge->hide();
        canvas->update();
        stage->update();
        QVERIFY2(screenaudit::run(Check::Painted, &window, setting).isEmpty(),
                 qPrintable(screenaudit::run(Check::Painted, &window, setting).join('\n')));
        QVERIFY(screenaudit::run(Check::Alike, &window).isEmpty());
        QVERIFY(screenaudit::run(Check::Words, &window, setting).isEmpty());
    }

    // Tiles side by side that read the same while they show different
    // cameras (three recorders' "Camera 1"); a drop-down entry that says its
    // count twice. Tiles of one camera, and cards whose labels are all they
    // stand for, pass.
    void siblingsThatReadAlike()
    {
        QWidget window;
        auto* row = new QHBoxLayout(&window);
        QList<QLabel*> names;
        const auto tile = [&](const QString& recorder, const QString& camera) {
            auto* t = new QFrame;
            t->setObjectName(QStringLiteral("Tile"));
            t->setAccessibleName(recorder + QStringLiteral(" · ") + camera);
            auto* inner = new QVBoxLayout(t);
            names << new QLabel(camera);
            inner->addWidget(names.last());
            row->addWidget(t);
        };
        for (const char* recorder : {"Recorder A", "Recorder B", "Recorder C"})
            tile(QString::fromLatin1(recorder), QStringLiteral("Camera 1"));
        tile(QStringLiteral("Recorder D"), QStringLiteral("Gate"));
        tile(QStringLiteral("Recorder D"), QStringLiteral("Gate"));
        for (int c = 0; c < 2; ++c) {
            auto* card = new QFrame;
            card->setObjectName(QStringLiteral("Card"));
            auto* inner = new QVBoxLayout(card);
            inner->addWidget(new QLabel(QStringLiteral("Devices")));
            inner->addWidget(new QLabel(QStringLiteral("12")));
            row->addWidget(card);
        }
        auto* layouts = new QComboBox;
        layouts->addItems({QStringLiteral("2 x 2 (4)"), QStringLiteral("12 x 10 (120)  (120)")});
        row->addWidget(layouts);
        show(window);
        const QStringList alike = screenaudit::run(Check::Alike, &window);
        QVERIFY2(alike.size() == 1 && has(alike, "3 QFrame#Tile side by side read the same \"Camera 1\""),
                 qPrintable(alike.join('\n')));
        const QStringList texts = screenaudit::run(Check::Text, &window);
        QVERIFY2(texts.size() == 1 && has(texts, "entry \"12 x 10 (120)  (120)\" says \"(120)\" twice"),
                 qPrintable(texts.join('\n')));

        // Mended: each tile says which recorder's camera it shows.
        for (qsizetype i = 0; i < 3; ++i)
            names.at(i)->setText(QStringLiteral("%1 · Camera 1").arg(QChar(char16_t(u'A' + i))));
        layouts->setItemText(1, QStringLiteral("12 x 10 (120)"));
        QTest::qWait(20);
        QVERIFY2(screenaudit::run(Check::Alike, &window).isEmpty(),
                 qPrintable(screenaudit::run(Check::Alike, &window).join('\n')));
        QVERIFY(screenaudit::run(Check::Text, &window).isEmpty());
    }

    // Tiles whose shortened names differ only by a "…" or by where they are
    // cut: two recorders' camera 02 read "…02 view of …" and "…02 view of",
    // and "…rooms, came…" stands beside "…rooms, camer…". A camera's name
    // whole at its end ("…camera 1" beside "…camera 12") passes, and so do
    // the names mended to show their recorder.
    void siblingsThatReadNearlyAlike()
    {
        QWidget window;
        auto* row = new QHBoxLayout(&window);
        QList<QLabel*> names;
        const auto tile = [&](const QString& whole, const QString& shown) {
            auto* t = new QFrame;
            t->setObjectName(QStringLiteral("Tile"));
            t->setAccessibleName(whole);
            auto* inner = new QVBoxLayout(t);
            names << new QLabel(shown);
            inner->addWidget(names.last());
            row->addWidget(t);
        };
        const QString e(QChar(0x2026));
        tile(QStringLiteral("Recorder 1 · Corridor camera 02 view of the lifts"), e + "02 view of " + e);
        tile(QStringLiteral("Recorder 2 · Corridor camera 02 view of the lifts"), e + "02 view of");
        tile(QStringLiteral("Recorder 1 · Meeting rooms, camera 1"), e + "rooms, came" + e);
        tile(QStringLiteral("Recorder 1 · Meeting rooms, camera 12"), e + "rooms, camer" + e);
        tile(QStringLiteral("Recorder 1 · Lift camera 1"), e + "camera 1");
        tile(QStringLiteral("Recorder 1 · Lift camera 12"), e + "camera 12");
        show(window);
        QStringList faults = screenaudit::run(Check::Alike, &window);
        QVERIFY2(faults.size() == 2 && has(faults, "read nearly the same: \"" + e + "02 view of")
                     && has(faults, "\"" + e + "rooms, camer" + e + "\" and \"" + e + "rooms, came" + e + "\""),
                 qPrintable(faults.join('\n')));

        // Mended: the recorder tells the first two apart, the cut the others.
        names.at(0)->setText(e + "1 · " + e + "02 view" + e);
        names.at(1)->setText(e + "2 · " + e + "02 view" + e);
        names.at(2)->setText(e + "rooms, camera 1");
        names.at(3)->setText(e + "rooms, camera 12");
        QTest::qWait(20);
        faults = screenaudit::run(Check::Alike, &window);
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));
    }

    // A table whose first column takes what the others leave: its own edge
    // does not drag, and widening another narrows it. Columns that each
    // widen by their own edge (the table scrolling) pass, and are left as
    // they were.
    void columnsWidenedByTheirOwnEdge()
    {
        QTableWidget table(2, 3);
        table.setHorizontalHeaderLabels(
            {QStringLiteral("DEVICE"), QStringLiteral("STATUS"), QStringLiteral("NETWORK")});
        table.resize(500, 200);
        QHeaderView* header = table.horizontalHeader();
        header->setStretchLastSection(false);
        header->setSectionResizeMode(0, QHeaderView::Stretch);
        header->setSectionResizeMode(1, QHeaderView::Interactive);
        header->setSectionResizeMode(2, QHeaderView::Interactive);
        show(table);
        QStringList faults = screenaudit::columnFaults(&table);
        QVERIFY2(has(faults, "\"DEVICE\" widened by 0 px when its edge was dragged 40 px")
                     && has(faults, "widening \"STATUS\" narrowed column 1"),
                 qPrintable(faults.join('\n')));

        // Mended.
        header->setSectionResizeMode(0, QHeaderView::Interactive);
        const QList<int> widths{header->sectionSize(0), header->sectionSize(1), header->sectionSize(2)};
        faults = screenaudit::columnFaults(&table);
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));
        QCOMPARE((QList<int>{header->sectionSize(0), header->sectionSize(1), header->sectionSize(2)}), widths);
    }

    // Widgets laid out side by side cover each other when the room is less
    // than they need; two overlays that both draw in one place.
    void widgetsOverEachOther()
    {
        QWidget window;
        window.resize(300, 400);
        auto* host = new QWidget(&window);
        host->setGeometry(0, 0, 300, 120);
        auto* rows = new QVBoxLayout(host);
        for (int i = 0; i < 4; ++i) {
            auto* row = new QPushButton(QStringLiteral("Camera %1").arg(i + 1));
            row->setMinimumHeight(52);
            rows->addWidget(row);
        }
        auto* left = new QLabel(QStringLiteral("Badge"), &window);
        left->setAutoFillBackground(true);
        left->setGeometry(10, 300, 80, 20);
        auto* right = new QLabel(QStringLiteral("Retry"), &window);
        right->setAutoFillBackground(true);
        right->setGeometry(60, 305, 80, 20);
        show(window);
        QStringList faults = screenaudit::run(Check::Overlap, &window);
        QVERIFY2(has(faults, "pairs of widgets laid out side by side overlap") && has(faults, "lie over each other"),
                 qPrintable(faults.join('\n')));
        host->setFixedHeight(260);
        window.resize(300, 420);
        right->move(100, 305);
        QTest::qWait(50);
        faults = screenaudit::run(Check::Overlap, &window);
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));
    }

    // A window larger than the screen's area, and its controls past it.
    void outsideTheScreen()
    {
        QWidget window;
        auto* column = new QVBoxLayout(&window);
        column->addStretch();
        auto* start = new QPushButton(QStringLiteral("Start wall"));
        column->addWidget(start);
        window.setGeometry(0, 0, 400, 300);
        show(window);
        screenaudit::Setting small;
        small.screen = QRect(window.geometry().topLeft(), QSize(400, 200));
        const QStringList faults = screenaudit::run(Check::Screen, &window, small);
        QVERIFY2(has(faults, "does not lie within the screen's area")
                     && has(faults, "\"Start wall\" lies wholly outside the screen"),
                 qPrintable(faults.join('\n')));
        screenaudit::Setting big;
        big.screen = window.frameGeometry().adjusted(-10, -10, 10, 10);
        QVERIFY(screenaudit::run(Check::Screen, &window, big).isEmpty());
    }

    // Where a window opened, once it stands still: half above the screen's
    // top edge, and a dialog away from the middle of its parent; a dialog
    // centred on its parent inside the screen passes.
    void windowsAsTheyOpen()
    {
        QWidget parent;
        const QRect area = parent.screen()->availableGeometry();
        parent.setGeometry(QRect(area.topLeft() + QPoint(40, 60), QSize(600, 400)));
        show(parent);
        QDialog dialog(&parent);
        dialog.resize(300, 200);
        show(dialog);
        dialog.move(area.left() + 100, area.top() - 120);
        QStringList faults = screenaudit::openingFaults(&dialog);
        QVERIFY2(has(faults, "does not lie inside the work area") && has(faults, "its title bar above the area"),
                 qPrintable(faults.join('\n')));
        dialog.move(area.left() + 20, area.top() + 30);
        faults = screenaudit::openingFaults(&dialog);
        QVERIFY2(faults.size() == 1 && has(faults, "not centred on its parent window"), qPrintable(faults.join('\n')));

        // Mended: centred on its parent, frame and all.
        const QRect outer = parent.windowHandle()->frameGeometry();
        const QSize frame = dialog.windowHandle()->frameGeometry().size();
        dialog.windowHandle()->setFramePosition(outer.center() - QPoint(frame.width() / 2, frame.height() / 2));
        faults = screenaudit::openingFaults(&dialog);
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));
    }

    // Text and what lies behind it under 4.5:1, but for disabled text and
    // the theme's colour pairs kept below it.
    void contrast()
    {
        QWidget window;
        window.setStyleSheet(QStringLiteral("QWidget { background: #ffffff; } QLabel#Pale { color: #999999; }"));
        auto* column = new QVBoxLayout(&window);
        auto* pale = new QLabel(QStringLiteral("Pale hint"));
        pale->setObjectName(QStringLiteral("Pale"));
        auto* dark = new QLabel(QStringLiteral("Dark text"));
        column->addWidget(pale);
        column->addWidget(dark);
        show(window);
        QStringList faults = screenaudit::run(Check::Contrast, &window);
        QVERIFY2(faults.size() == 1 && has(faults, "\"Pale hint\" contrasts 2.85:1 (#999999 on #ffffff)"),
                 qPrintable(faults.join('\n')));
        screenaudit::Setting kept;
        kept.themePairs = {{QColor("#999999"), QColor("#ffffff")}};
        QVERIFY(screenaudit::run(Check::Contrast, &window, kept).isEmpty());
        pale->setEnabled(false);
        QVERIFY(screenaudit::run(Check::Contrast, &window).isEmpty());
    }

    // The audit looks at a window once it holds still: the window system's
    // late answer to a resize in (a window manager answering an earlier,
    // smaller request first leaves a dialog narrower than its content for a
    // moment), a fade ended.
    void settlesBeforeLooking()
    {
        QDialog dialog;
        auto* column = new QVBoxLayout(&dialog);
        auto* device = new QComboBox;
        device->addItem(QStringLiteral("Bhiwandi Distribution Centre, Warehouse 4 north dock recorder"));
        column->addWidget(new QLabel(QStringLiteral("Uptime report of one recorder over the last thirty days")));
        column->addWidget(device);
        show(dialog);
        QStringList faults = screenaudit::run(Check::Text, &dialog);
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));

        const QSize whole = dialog.size();
        QWindow* handle = dialog.windowHandle();
        handle->resize(whole.width() - 150, whole.height());
        QTRY_COMPARE(dialog.width(), whole.width() - 150);
        QTimer::singleShot(300, handle, [handle, whole] { handle->resize(whole); });
        faults = screenaudit::run(Check::Text, &dialog);
        QVERIFY2(faults.isEmpty() && dialog.size() == whole, qPrintable(faults.join('\n')));

        QWidget window;
        window.setStyleSheet(QStringLiteral("QWidget { background: #ffffff; } QFrame#Page { background: #1f2937; } "
                                            "QFrame#Page QLabel { color: #ffffff; background: #1f2937; }"));
        auto* holder = new QVBoxLayout(&window);
        auto* page = new QFrame;
        page->setObjectName(QStringLiteral("Page"));
        auto* inside = new QVBoxLayout(page);
        inside->addWidget(new QLabel(QStringLiteral("Sign in")));
        holder->addWidget(page);
        show(window);
        auto* effect = new QGraphicsOpacityEffect(page);
        effect->setOpacity(0.0);
        page->setGraphicsEffect(effect);
        auto* fade = new QPropertyAnimation(effect, "opacity", effect);
        fade->setDuration(800);
        fade->setStartValue(0.0);
        fade->setEndValue(1.0);
        fade->start();
        faults = screenaudit::run(Check::Contrast, &window);
        QVERIFY2(faults.isEmpty() && fade->state() == QAbstractAnimation::Stopped, qPrintable(faults.join('\n')));

        // A row whose buttons change with its mode, as a list that places its
        // row buttons once the rows are laid out: the old button goes
        // (deleted later), the new one is placed on the next turn.
        QWidget row;
        row.resize(320, 60);
        const auto overlay = [&row](const QString& text, int x) {
            auto* l = new QLabel(text, &row);
            l->setAutoFillBackground(true);
            l->setGeometry(x, 15, 80, 20);
            return l;
        };
        overlay(QStringLiteral("Head office"), 10);
        QLabel* old = overlay(QStringLiteral("Play all"), 60);
        show(row);
        old->deleteLater();
        QLabel* tick = overlay(QStringLiteral("Select"), 60);
        tick->show();
        QTimer::singleShot(0, tick, [tick] { tick->move(200, 15); });
        faults = screenaudit::run(Check::Overlap, &row);
        QVERIFY2(faults.isEmpty() && tick->x() == 200, qPrintable(faults.join('\n')));
    }

    // Looks: rows that expand without an arrow, a stock icon, a horizontal
    // scroll bar unlike the vertical ones, an error under the wrong field,
    // a stretched picture, a menu arrow squeezed into a corner.
    void looks()
    {
        QWidget window;
        window.setStyleSheet(QStringLiteral(
            "QTreeWidget::branch { background: transparent; }"
            "QScrollBar:vertical { width: 10px; }"
            "QLineEdit[invalid=\"true\"] { border: 1px solid red; }"
            "QPushButton { min-height: 36px; padding: 0 16px; border: 1px solid #888888; border-radius: 8px; }"));
        auto* column = new QVBoxLayout(&window);
        auto* tree = new QTreeWidget;
        tree->setHeaderHidden(true);
        auto* site = new QTreeWidgetItem(tree, {QStringLiteral("Head office")});
        new QTreeWidgetItem(site, {QStringLiteral("Gate")});
        site->setExpanded(true);
        auto* ok = new QPushButton(QStringLiteral("OK"));
        ok->setIcon(ok->style()->standardIcon(QStyle::SP_DialogOkButton));
        auto* list = new QListWidget;
        list->addItem(QString(120, QChar('w')));
        list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        auto* form = new QWidget;
        auto* fields = new QVBoxLayout(form);
        auto* address = new QLineEdit;
        auto* notes = new QLineEdit;
        auto* error = new QLabel(QStringLiteral("Enter the device's address."));
        error->setObjectName(QStringLiteral("NError"));
        fields->addWidget(address);
        fields->addWidget(notes);
        fields->addWidget(error);
        auto* picture = new VideoStage;
        picture->setFixedSize(60, 240);
        auto* import = new QPushButton(QStringLiteral("Import CSV"));
        auto* menu = new QMenu(import);
        menu->addAction(QStringLiteral("Import devices from CSV…"));
        import->setMenu(menu);
        for (QWidget* w : std::initializer_list<QWidget*>{tree, ok, list, form, picture, import})
            column->addWidget(w);
        show(window);
        const QStringList faults = screenaudit::run(Check::Looks, &window);
        QVERIFY2(has(faults, "expandable rows show no expand arrow")
                     && has(faults, "\"OK\" carries the style's stock icon")
                     && has(faults, "a horizontal scroll bar of QListWidget")
                     && has(faults, "the error stands under QLineEdit, which is not marked")
                     && has(faults, "out of a picture's proportions")
                     && has(faults, "\"Import CSV\": the menu arrow is squeezed into the corner"),
                 qPrintable(faults.join('\n')));

        // Mended.
        window.setStyleSheet(QStringLiteral(
            "QScrollBar:vertical { width: 10px; } QScrollBar:horizontal { height: 10px; }"
            "QLineEdit[invalid=\"true\"] { border: 1px solid red; }"
            "QPushButton { min-height: 36px; padding: 0 28px 0 16px; border: 1px solid #888888; border-radius: 8px; }"
            "QPushButton::menu-indicator { subcontrol-origin: padding; subcontrol-position: right center; right: 10px; "
            "}"));
        ok->setIcon(QIcon());
        fields->insertWidget(1, error); // under the address field
        address->setProperty("invalid", true);
        picture->setFixedSize(240, 135);
        QTest::qWait(50);
        const QStringList mended = screenaudit::run(Check::Looks, &window);
        QVERIFY2(mended.isEmpty(), qPrintable(mended.join('\n')));
    }

    // Names for a screen reader: a control without one; a field inside an
    // editable drop-down; a control the accessibility tree never meets (a
    // button laid inside an item view, whose accessible children are cells).
    void names()
    {
        QWidget window;
        auto* column = new QVBoxLayout(&window);
        auto* unnamed = new QPushButton;
        unnamed->setIcon(QIcon(QPixmap(16, 16)));
        auto* choice = new QComboBox;
        choice->setEditable(true);
        choice->setAccessibleName(QStringLiteral("Preset"));
        auto* list = new QListWidget;
        list->setAccessibleName(QStringLiteral("Cameras"));
        list->addItems({QStringLiteral("Gate"), QStringLiteral("Yard")});
        auto* inside = new QPushButton(QStringLiteral("Play"), list->viewport());
        // A button's drop-down that the tree never meets (Qt's own menu
        // button has no child).
        auto* import = new QPushButton(QStringLiteral("Import CSV"));
        auto* menu = new QMenu(import);
        menu->addAction(QStringLiteral("Import devices from CSV…"));
        import->setMenu(menu);
        column->addWidget(import);
        column->addWidget(unnamed);
        column->addWidget(choice);
        column->addWidget(list);
        show(window);
        inside->show();
        QStringList faults = screenaudit::run(Check::Names, &window);
        QVERIFY2(faults.size() == 4 && has(faults, "QPushButton: no accessible name")
                     && has(faults, "its text field has no accessible name")
                     && has(faults, "\"Play\": not in the accessibility tree")
                     && has(faults, "\"Import CSV\": its menu is missing from the accessibility tree"),
                 qPrintable(faults.join('\n')));
        kvr::ui::MenuButtons::attach(import, menu);
        unnamed->setAccessibleName(QStringLiteral("Snapshot"));
        choice->lineEdit()->setAccessibleName(QStringLiteral("Preset"));
        inside->setParent(&window);
        column->addWidget(inside);
        QTest::qWait(50);
        faults = screenaudit::run(Check::Names, &window);
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));
    }

    // The Tab key: a control it never reaches, a text box that keeps it, a
    // control it passes by while it stops at its like neighbours, and a walk
    // that goes back up the page.
    void tabWalk()
    {
        QWidget window;
        auto* column = new QVBoxLayout(&window);
        auto* mouseOnly = new QPushButton(QStringLiteral("Play all"));
        mouseOnly->setFocusPolicy(Qt::NoFocus);
        auto* notes = new QPlainTextEdit;
        notes->setAccessibleName(QStringLiteral("Notes"));
        auto* cards = new QWidget;
        auto* row = new QHBoxLayout(cards);
        QList<QFrame*> card;
        for (int i = 0; i < 3; ++i) {
            card << new QFrame;
            card.last()->setObjectName(QStringLiteral("Card"));
            card.last()->setFocusPolicy(i == 2 ? Qt::NoFocus : Qt::StrongFocus);
            card.last()->setMinimumSize(40, 30);
            row->addWidget(card.last());
        }
        auto* above = new QPushButton(QStringLiteral("Above"));
        auto* below = new QPushButton(QStringLiteral("Below"));
        for (QWidget* w : std::initializer_list<QWidget*>{mouseOnly, notes, cards, above, below})
            column->addWidget(w);
        // Read down, Tab goes up: "Below", then "Above".
        QWidget::setTabOrder(below, above);
        show(window);
        QStringList faults = screenaudit::run(Check::Tab, &window);
        QVERIFY2(has(faults, "\"Play all\": Tab never reaches it") && has(faults, "\"Notes\": Tab never leaves it")
                     && has(faults, "QFrame#Card: Tab passes it by, though it stops at its like neighbours"),
                 qPrintable(faults.join('\n')));
        notes->setTabChangesFocus(true);
        mouseOnly->setFocusPolicy(Qt::StrongFocus);
        card.last()->setFocusPolicy(Qt::StrongFocus);
        faults = screenaudit::run(Check::Tab, &window);
        QVERIFY2(has(faults, "Tab goes back up from QPushButton \"Below\" to QPushButton \"Above\""),
                 qPrintable(faults.join('\n')));
        QWidget::setTabOrder(above, below);
        faults = screenaudit::run(Check::Tab, &window);
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));
    }

    // What the recorder reads of a painting: texts with their place, colour
    // and clip, and the marks of all else.
    void recordingAPainting()
    {
        Painted canvas;
        canvas.resize(100, 60);
        canvas.pen = QColor(10, 20, 30);
        canvas.clipped = true;
        canvas.texts = {{QRect(5, 5, 20, 20), QStringLiteral("Gate")}};
        canvas.boxes = {QRect(40, 30, 10, 10)};
        const screenaudit::Painting p = screenaudit::recordPainting(&canvas);
        QCOMPARE(p.texts.size(), 1);
        QCOMPARE(p.texts.first().text, QStringLiteral("Gate"));
        QCOMPARE(p.texts.first().colour, QColor(10, 20, 30));
        QCOMPARE(p.texts.first().clip, QRectF(5, 5, 20, 20));
        QVERIFY(qAbs(p.texts.first().rect.left() - 5) < 1 && p.texts.first().rect.width() > 20);
        QVERIFY(p.ink.contains(QRectF(40, 30, 10, 10)) && p.ink.contains(QRectF(0, 0, 100, 60)));
    }
};

KVR_TEST_MAIN(TestScreenAuditKit)

#include "tst_screen_audit_kit.moc"

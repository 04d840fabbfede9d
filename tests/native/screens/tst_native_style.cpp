// The native style kit and widget factories: the sheet built from tokens,
// chips, dots, the flow layout's placement, the dialog frame and the sizing
// of native dialogs.

#include "native/screens/NativeStyle.h"
#include "native/screens/NativeUi.h"
#include "tests/native/screens/ScreensKit.h"
#include "tests/support/TestKit.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QVBoxLayout>

using namespace NativeStyle;

namespace {

// A layout item of a fixed size.
class Box : public QLayoutItem {
public:
    explicit Box(QSize size) : m_size(size) {}
    QSize sizeHint() const override { return m_size; }
    QSize minimumSize() const override { return m_size; }
    QSize maximumSize() const override { return m_size; }
    Qt::Orientations expandingDirections() const override { return {}; }
    void setGeometry(const QRect& r) override { m_geometry = r; }
    QRect geometry() const override { return m_geometry; }
    bool isEmpty() const override { return false; }

private:
    QSize m_size;
    QRect m_geometry;
};

class CountingDot : public DiscDot {
public:
    using DiscDot::DiscDot;
    int paints = 0;

protected:
    void paintEvent(QPaintEvent* e) override
    {
        ++paints;
        DiscDot::paintEvent(e);
    }
};

} // namespace

class NativeStyleTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void sheetNamesOnlyTokens();
    void chips_data();
    void chips();
    void dots();
    void flowPlacement_data();
    void flowPlacement();
    void flowItemsAndEmpty();
    void frameAndCaptions();
    void dialogSizing();
    void infoGoesThroughTheSeam();
};

void NativeStyleTest::sheetNamesOnlyTokens()
{
    const QString sheet = stylesheet();
    // Every token was written out: no "@name" is left to be read as junk.
    QVERIFY2(!sheet.contains(QLatin1Char('@')), qPrintable(sheet.section(QLatin1Char('@'), 1, 1).left(40)));
    QVERIFY(sheet.contains(QStringLiteral("QPushButton#NPrimary { background: #004aad;")));
    QVERIFY(sheet.contains(
        QStringLiteral("QLabel#NChip[chip=\"warn\"] { background: rgba(255, 193, 7, 0.14); color: #b45309;")));
    QVERIFY(sheet.contains(QStringLiteral("QFrame#NCard:hover { border: 1px solid rgba(0, 74, 173, 0.35); }")));
    // The painting constants equal their tokens.
    QCOMPARE(token("primary"), kPrimary);
    QCOMPARE(token("success"), kSuccess);
    QCOMPARE(token("danger"), kDanger);
    QCOMPARE(token("hairline"), kHairline);
    QCOMPARE(token("unknownBorder"), kUnknownBorder);
    QCOMPARE(token("warnText"), kWarnText);
    QVERIFY(!token("nope").isValid());
    // The sheet parses: a widget wearing it takes the primary colour.
    QPushButton b(QStringLiteral("Go"));
    b.setObjectName(QStringLiteral("NPrimary"));
    b.setStyleSheet(sheet);
    b.resize(80, 36);
    const QImage img = b.grab().toImage();
    QCOMPARE(img.pixelColor(4, 18), kPrimary);
}

void NativeStyleTest::chips_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("word");
    QTest::addColumn<QColor>("fill");
    QTest::addColumn<QColor>("text");
    QTest::newRow("pass") << 0 << "pass" << QColor(0x28, 0xa7, 0x45, 31) << QColor(0x28a745);
    QTest::newRow("fail") << 1 << "fail" << QColor(0xdc, 0x35, 0x45, 31) << QColor(0xdc3545);
    QTest::newRow("warn") << 2 << "warn" << QColor(0xff, 0xc1, 0x07, 36) << QColor(0xb45309);
    QTest::newRow("info") << 3 << "info" << QColor(0x17, 0xa2, 0xb8, 31) << QColor(0x117a8b);
    QTest::newRow("unknown") << 4 << "unknown" << QColor(0xf8f9fa) << QColor(0x495057);
    QTest::newRow("poor") << 5 << "poor" << QColor(0xdc, 0x35, 0x45, 31) << QColor(0xb91c1c);
    QTest::newRow("below range") << -1 << "unknown" << QColor(0xf8f9fa) << QColor(0x495057);
    QTest::newRow("above range") << 7 << "unknown" << QColor(0xf8f9fa) << QColor(0x495057);
}

void NativeStyleTest::chips()
{
    QFETCH(int, kind);
    const Chip c = Chip(kind);
    QCOMPARE(QString::fromLatin1(chipWord(c)), FETCHED(QString, word));
    QCOMPARE(chipFill(c), FETCHED(QColor, fill));
    QCOMPARE(chipTextColor(c), FETCHED(QColor, text));
    std::unique_ptr<QLabel> label(chip(QStringLiteral("3 problems"), c));
    QCOMPARE(label->objectName(), QStringLiteral("NChip"));
    QCOMPARE(label->text(), QStringLiteral("3 problems"));
    QCOMPARE(label->property("chip").toString(), FETCHED(QString, word));
    QCOMPARE(label->alignment(), Qt::AlignCenter);
    QCOMPARE(label->sizePolicy().horizontalPolicy(), QSizePolicy::Maximum);
    setChip(label.get(), QStringLiteral("again"), Chip::Pass);
    QCOMPARE(label->property("chip").toString(), QStringLiteral("pass"));
}

void NativeStyleTest::dots()
{
    struct Case {
        Disc state;
        QColor centre;
        QColor ring; // at 3.25 px from the centre
    };
    const Case cases[] = {
        {Disc::Up, kSuccess, kSuccess},
        {Disc::Down, kDanger, kDanger},
        {Disc(9), kDanger, kDanger},
        {Disc::Unknown, QColor(Qt::white), kUnknownBorder},
    };
    for (const Case& c : cases) {
        QWidget ground;
        ground.setStyleSheet(QStringLiteral("background: white;"));
        ground.resize(10, 10);
        DiscDot dot(c.state, &ground);
        QCOMPARE(dot.size(), QSize(10, 10));
        const QImage img = ground.grab().toImage();
        const QColor centre = img.pixelColor(5, 5);
        QVERIFY2(qAbs(centre.red() - c.centre.red()) < 30 && qAbs(centre.green() - c.centre.green()) < 30,
                 qPrintable(centre.name()));
        const QColor ring = img.pixelColor(5, 1);
        QVERIFY2(qAbs(ring.red() - c.ring.red()) < 60 && qAbs(ring.blue() - c.ring.blue()) < 60,
                 qPrintable(ring.name()));
    }
    CountingDot dot(Disc::Up);
    dot.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dot));
    QTest::qWait(20);
    const int before = dot.paints;
    dot.setState(Disc::Up);
    QTest::qWait(50);
    QCOMPARE(dot.paints, before);
    dot.setState(Disc::Down);
    QTRY_VERIFY(dot.paints > before);
    QCOMPARE(dot.state(), Disc::Down);
}

void NativeStyleTest::flowPlacement_data()
{
    QTest::addColumn<QList<QSize>>("items");
    QTest::addColumn<int>("width");
    QTest::addColumn<QList<QRect>>("placed");
    QTest::addColumn<int>("height");
    using S = QSize;
    using R = QRect;
    QTest::newRow("one line") << QList<S>{S(40, 20), S(50, 30)} << 200 << QList<R>{R(0, 0, 40, 20), R(48, 0, 50, 30)}
                              << 30;
    QTest::newRow("wraps with vertical spacing") << QList<S>{S(60, 20), S(60, 30), S(60, 10)} << 130
                                                 << QList<R>{R(0, 0, 60, 20), R(68, 0, 60, 30), R(0, 36, 60, 10)} << 46;
    QTest::newRow("too wide stands alone, no empty line before it")
        << QList<S>{S(300, 20), S(30, 20)} << 100 << QList<R>{R(0, 0, 300, 20), R(0, 26, 30, 20)} << 46;
    QTest::newRow("zero-height start does not count as something on the line")
        << QList<S>{S(80, 0), S(80, 20)} << 100 << QList<R>{R(0, 0, 80, 0), R(88, 0, 80, 20)} << 20;
}

void NativeStyleTest::flowPlacement()
{
    QFETCH(QList<QSize>, items);
    QFETCH(QList<QRect>, placed);
    FlowLayout flow(nullptr, 8, 6);
    QList<Box*> boxes;
    for (const QSize& s : items) {
        boxes << new Box(s);
        flow.addItem(boxes.last());
    }
    const int width = FETCHED(int, width);
    QCOMPARE(flow.heightForWidth(width), FETCHED(int, height));
    QCOMPARE(flow.doLayout(QRect(10, 20, width, 500), false), FETCHED(int, height));
    flow.setGeometry(QRect(0, 0, width, 500));
    for (int i = 0; i < boxes.size(); ++i)
        QCOMPARE(boxes.at(i)->geometry(), placed.at(i));
}

void NativeStyleTest::flowItemsAndEmpty()
{
    FlowLayout flow(nullptr, 14, 8);
    QCOMPARE(flow.contentsMargins(), QMargins());
    QCOMPARE(flow.heightForWidth(100), 0);
    QCOMPARE(flow.minimumSize(), QSize(-1, -1));
    QVERIFY(flow.hasHeightForWidth());
    QCOMPARE(flow.expandingDirections(), Qt::Orientations());
    flow.setContentsMargins(2, 3, 4, 5);
    QCOMPARE(flow.heightForWidth(100), 8);
    auto* a = new Box(QSize(10, 30));
    auto* b = new Box(QSize(40, 5));
    flow.addItem(a);
    flow.addItem(b);
    QCOMPARE(flow.minimumSize(), QSize(46, 38));
    QCOMPARE(flow.sizeHint(), flow.minimumSize());
    QCOMPARE(flow.itemAt(-1), nullptr);
    QCOMPARE(flow.takeAt(2), nullptr);
    QCOMPARE(flow.count(), 2);
    QCOMPARE(flow.takeAt(0), a);
    delete a;
    QCOMPARE(flow.itemAt(0), b);
}

void NativeStyleTest::frameAndCaptions()
{
    QDialog d;
    auto* content = new QLabel(QStringLiteral("content"));
    QHBoxLayout* row = NativeUi::frame(&d, QStringLiteral("Title"), content);
    auto* v = qobject_cast<QVBoxLayout*>(d.layout());
    QVERIFY(v);
    QCOMPARE(v->contentsMargins(), QMargins(24, 22, 24, 20));
    QCOMPARE(v->spacing(), 14);
    QCOMPARE(qobject_cast<QLabel*>(v->itemAt(0)->widget())->objectName(), QStringLiteral("NScreenTitle"));
    QCOMPARE(v->itemAt(1)->widget(), content);
    QCOMPARE(v->itemAt(2)->layout(), row);
    QPushButton* cancel = NativeUi::button(QStringLiteral("Cancel"), "NSecondary");
    QPushButton* save = NativeUi::button(QStringLiteral("Save"), "NPrimary");
    row->addWidget(cancel);
    row->addWidget(save);
    d.resize(400, 200);
    d.show();
    QVERIFY(QTest::qWaitForWindowExposed(&d));
    QVERIFY(cancel->geometry().right() < save->geometry().left());
    QVERIFY(save->geometry().right() >= d.width() - 24 - 1);
    QCOMPARE(save->cursor().shape(), Qt::PointingHandCursor);

    auto* field = new QLineEdit;
    std::unique_ptr<QWidget> captioned(NativeUi::captioned(QStringLiteral("Site name"), field));
    auto* caption = captioned->findChild<QLabel*>();
    QCOMPARE(caption->objectName(), QStringLiteral("NMuted"));
    QCOMPARE(caption->buddy(), field);
    QCOMPARE(field->accessibleName(), QStringLiteral("Site name"));
    QLabel* plain = NativeUi::label(QStringLiteral("x"), nullptr);
    QVERIFY(plain->objectName().isEmpty());
    QVERIFY(plain->wordWrap());
    delete plain;
}

void NativeStyleTest::dialogSizing()
{
    struct Case {
        int minimumWidth;
        int words;
        int width;
    };
    for (const Case& c : {Case{0, 5, 320}, Case{560, 5, 560}, Case{320, 400, 320}}) {
        NativeDialogBase d;
        d.setMinimumWidth(c.minimumWidth);
        QStringList words;
        for (int i = 0; i < c.words; ++i)
            words << QStringLiteral("word%1").arg(i);
        QLabel* text = NativeUi::label(words.join(QLatin1Char(' ')));
        NativeUi::frame(&d, QStringLiteral("Sized"), text);
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        QCOMPARE(d.width(), c.width);
        // Tall enough for the wrapped text.
        QVERIFY(text->height() >= text->heightForWidth(text->width()));
        // A size the user chose survives hiding and showing.
        d.resize(c.width + 100, d.height() + 50);
        const QSize chosen = d.size();
        d.hide();
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        QCOMPARE(d.size(), chosen);
    }
}

void NativeStyleTest::infoGoesThroughTheSeam()
{
    Modal::reset();
    QString title;
    QMessageBox::StandardButtons buttons;
    QMessageBox::Icon icon = QMessageBox::Warning;
    Modal::respond([&](QDialog& d) {
        auto& box = dynamic_cast<QMessageBox&>(d);
        title = box.windowTitle();
        buttons = box.standardButtons();
        icon = box.icon();
        return int(QMessageBox::Close);
    });
    NativeUi::info(nullptr, QStringLiteral("Import devices"), QStringLiteral("1 device added."));
    QCOMPARE(title, QStringLiteral("Import devices"));
    QCOMPARE(buttons, QMessageBox::StandardButtons(QMessageBox::Close));
    QCOMPARE(icon, QMessageBox::NoIcon);
    QCOMPARE(Modal::shown(), QStringList{QStringLiteral("Import devices: 1 device added.")});
}

KVR_TEST_MAIN(NativeStyleTest)
#include "tst_native_style.moc"

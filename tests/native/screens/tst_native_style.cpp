// The native style kit and widget factories: the sheet built from tokens,
// chips, dots, the flow layout's placement, the dialog frame and the sizing
// of native dialogs. (Messages through the dialog seam are shown by the
// window's import notice.)

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

} // namespace

class NativeStyleTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void sheetNamesOnlyTokens();
    void chips();
    void dots();
    void flowPlacement_data();
    void flowPlacement();
    void frameAndSizing();
};

void NativeStyleTest::sheetNamesOnlyTokens()
{
    const QString sheet = stylesheet();
    // Every token was written out: no "@name" is left to be read as junk.
    QVERIFY2(!sheet.contains(QLatin1Char('@')), qPrintable(sheet.section(QLatin1Char('@'), 1, 1).left(40)));
    QVERIFY(sheet.contains(
        QStringLiteral("QLabel#NChip[chip=\"warn\"] { background: rgba(255, 193, 7, 0.14); color: #b45309;")));
    // The painting constants equal their tokens.
    const std::pair<const char*, QColor> painted[] = {{"primary", kPrimary},   {"success", kSuccess},
                                                      {"danger", kDanger},     {"hairline", kHairline},
                                                      {"warnText", kWarnText}, {"unknownBorder", kUnknownBorder}};
    for (const auto& [name, colour] : painted)
        QCOMPARE(token(name), colour);
    // The sheet parses: a widget wearing it takes the primary colour.
    QPushButton b(QStringLiteral("Go"));
    b.setObjectName(QStringLiteral("NPrimary"));
    b.setStyleSheet(sheet);
    b.resize(80, 36);
    const QImage img = b.grab().toImage();
    QCOMPARE(img.pixelColor(4, 18), kPrimary);
}

void NativeStyleTest::chips()
{
    const struct {
        int kind;
        const char* word;
        QColor fill, text;
    } cases[] = {
        {0, "pass", QColor(0x28, 0xa7, 0x45, 31), QColor(0x28a745)},
        {1, "fail", QColor(0xdc, 0x35, 0x45, 31), QColor(0xdc3545)},
        {2, "warn", QColor(0xff, 0xc1, 0x07, 36), QColor(0xb45309)},
        {3, "info", QColor(0x17, 0xa2, 0xb8, 31), QColor(0x117a8b)},
        {4, "unknown", QColor(0xf8f9fa), QColor(0x495057)},
        {5, "poor", QColor(0xdc, 0x35, 0x45, 31), QColor(0xb91c1c)},
        {-1, "unknown", QColor(0xf8f9fa), QColor(0x495057)}, // out of range either side
        {7, "unknown", QColor(0xf8f9fa), QColor(0x495057)},
    };
    std::unique_ptr<QLabel> label(chip(QStringLiteral("3 problems"), Chip::Pass));
    for (const auto& c : cases) {
        QCOMPARE(chipFill(Chip(c.kind)), c.fill);
        QCOMPARE(chipTextColor(Chip(c.kind)), c.text);
        setChip(label.get(), QStringLiteral("again"), Chip(c.kind));
        QCOMPARE(label->objectName() + label->property("chip").toString(),
                 QStringLiteral("NChip") + QLatin1String(c.word));
    }
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
        DiscDot dot(Disc::Down, &ground);
        dot.setState(c.state);
        const QImage img = ground.grab().toImage();
        const QColor centre = img.pixelColor(5, 5);
        QVERIFY2(qAbs(centre.red() - c.centre.red()) < 30 && qAbs(centre.green() - c.centre.green()) < 30,
                 qPrintable(centre.name()));
        const QColor ring = img.pixelColor(5, 1);
        QVERIFY2(qAbs(ring.red() - c.ring.red()) < 60 && qAbs(ring.blue() - c.ring.blue()) < 60,
                 qPrintable(ring.name()));
    }
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
    // Past either end there is no item.
    QCOMPARE(flow.itemAt(-1), nullptr);
    QCOMPARE(flow.takeAt(int(boxes.size())), nullptr);
}

void NativeStyleTest::frameAndSizing()
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
        QPushButton* save = NativeUi::button(QStringLiteral("Save"), "NPrimary");
        NativeUi::frame(&d, QStringLiteral("Sized"), text)->addWidget(save);
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        QCOMPARE(d.width(), c.width);
        QVERIFY(save->geometry().right() >= d.width() - 24 - 1); // buttons at the right
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
    // A caption is its field's buddy and names it.
    auto* field = new QLineEdit;
    std::unique_ptr<QWidget> captioned(NativeUi::captioned(QStringLiteral("Site name"), field));
    QCOMPARE(captioned->findChild<QLabel*>()->buddy(), field);
    QCOMPARE(field->accessibleName(), QStringLiteral("Site name"));
}

KVR_TEST_MAIN(NativeStyleTest)
#include "tst_native_style.moc"

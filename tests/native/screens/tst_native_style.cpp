// The native style kit and widget factories: the sheet built from tokens,
// chips, dots, and the frame and sizing of native dialogs.

#include "native/screens/NativeStyle.h"
#include "native/screens/NativeUi.h"
#include "native/screens/NativeWindow.h"
#include "tests/native/screens/ScreensKit.h"
#include "tests/support/TestKit.h"

#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QVBoxLayout>

using namespace kvr::screens;

using namespace NativeStyle;

class NativeStyleTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void sheetNamesOnlyTokens();
    void chips();
    void frameAndSizing();
    void menuButtonArrow();
    void hintTextsReadable();
};

void NativeStyleTest::sheetNamesOnlyTokens()
{
    const QString sheet = stylesheet();
    // Every token was written out: no "@name" is left to be read as junk.
    QVERIFY2(!sheet.contains(QLatin1Char('@')), qPrintable(sheet.section(QLatin1Char('@'), 1, 1).left(40)));
    // The painting constants equal their tokens.
    QVERIFY(token("primary") == kPrimary && token("unknownBorder") == kUnknownBorder);
    // The sheet parses: a widget wearing it takes the primary colour.
    QPushButton b(QStringLiteral("Go"));
    b.setObjectName(QStringLiteral("NPrimary"));
    b.setStyleSheet(sheet);
    b.resize(80, 36);
    QCOMPARE(b.grab().toImage().pixelColor(4, 18), kPrimary);
}

void NativeStyleTest::chips()
{
    // A label takes its kind's word, which the sheet colours; kinds out of
    // range read as unknown in word and colours.
    std::unique_ptr<QLabel> label(chip(QStringLiteral("3 problems"), Chip::Pass));
    QStringList words{label->objectName()};
    for (int kind = -1; kind <= 6; ++kind) {
        setChip(label.get(), QStringLiteral("again"), Chip(kind));
        words << label->property("chip").toString();
    }
    QCOMPARE(words.join(QLatin1Char(' ')), QStringLiteral("NChip unknown pass fail warn info unknown poor unknown"));
    QVERIFY(chipFill(Chip(6)) == chipFill(Chip::Unknown) && chipTextColor(Chip(-1)) == chipTextColor(Chip::Unknown));
}

void NativeStyleTest::frameAndSizing()
{
    // The dialog's minimum width, the words of its text, the width it opens at.
    const std::tuple<int, int, int> sizes[] = {{0, 5, 320}, {560, 5, 560}, {320, 400, 320}};
    for (const auto& [minimumWidth, wordCount, width] : sizes) {
        NativeDialogBase d;
        d.setMinimumWidth(minimumWidth);
        QLabel* text = NativeUi::label(QStringLiteral("word ").repeated(wordCount).trimmed());
        QPushButton* save = NativeUi::button(QStringLiteral("Save"), "NPrimary");
        NativeUi::frame(&d, QStringLiteral("Sized"), text)->addWidget(save);
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        QCOMPARE(d.width(), width);
        QVERIFY(save->geometry().right() >= d.width() - 24 - 1); // buttons at the right
        // Tall enough for the wrapped text.
        QVERIFY(text->height() >= text->heightForWidth(text->width()));
        // A size the user chose survives hiding and showing.
        d.resize(width + 100, d.height() + 50);
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

// "Import CSV" opens a menu: it shows the sheet's chevron, in the muted
// colour of every other drop-down's, centred on its height and clear of both
// the text and the button's edge (not the stock grey arrow in its corner).
void NativeStyleTest::menuButtonArrow()
{
    screenskit::Bench bench;
    NativeWindow w(bench.context());
    w.resize(1440, 860);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QPushButton* import = screenskit::findByText<QPushButton>(&w, QStringLiteral("Import CSV"));
    QVERIFY(import && import->menu());
    const QImage image = import->grab().toImage();
    const auto near = [](QColor a, QColor b) {
        return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) + std::abs(a.blue() - b.blue()) < 60;
    };
    // The text's own pixels, then the muted ones right of them (the text's
    // softened edges come close to the muted colour too).
    QRect text;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (near(image.pixelColor(x, y), token("text")))
                text |= QRect(x, y, 1, 1);
    QRect arrow;
    for (int y = 0; y < image.height(); ++y)
        for (int x = text.right() + 2; x < image.width(); ++x)
            if (near(image.pixelColor(x, y), kMuted))
                arrow |= QRect(x, y, 1, 1);
    QVERIFY2(arrow.width() >= 8 && arrow.height() >= 4, "no chevron in the muted colour");
    QVERIFY2(std::abs(arrow.center().y() - image.height() / 2) <= 2,
             qPrintable(QStringLiteral("arrow at %1, %2").arg(arrow.center().y()).arg(image.height())));
    QVERIFY2(arrow.right() <= image.width() - 10 && arrow.left() >= text.right() + 6,
             qPrintable(QStringLiteral("text to %1, arrow %2 to %3 of %4")
                            .arg(text.right())
                            .arg(arrow.left())
                            .arg(arrow.right())
                            .arg(image.width())));
}

// The hint texts of fields read in the muted text colour of their screen,
// at least 4.5:1, in the window and its dialogs; the style sheet alone draws
// them at half the text's strength (#999999 on white, 2.9:1).
void NativeStyleTest::hintTextsReadable()
{
    const auto darkest = [](QLineEdit* edit) {
        const QImage image = edit->grab().toImage();
        QColor dark = Qt::white;
        for (int y = 4; y < image.height() - 4; ++y)
            for (int x = 4; x < image.width() - 4; ++x)
                if (image.pixelColor(x, y).lightness() < dark.lightness())
                    dark = image.pixelColor(x, y);
        return dark;
    };
    const auto near = [](QColor a, QColor b) {
        return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) + std::abs(a.blue() - b.blue()) < 40;
    };
    screenskit::Bench bench;
    NativeWindow w(bench.context());
    w.resize(1280, 720);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QLineEdit* search = nullptr;
    for (QLineEdit* e : w.findChildren<QLineEdit*>())
        if (e->placeholderText() == QLatin1String("Search site, device or IP"))
            search = e;
    QVERIFY(search && search->text().isEmpty());
    QVERIFY2(near(darkest(search), kMuted), qPrintable(darkest(search).name()));
    QCOMPARE(search->palette().color(QPalette::PlaceholderText), kMuted);

    // A dialog of the window; a repolish (an invalid mark) keeps the colour.
    QDialog dialog(&w);
    auto* field = new QLineEdit(&dialog);
    field->setPlaceholderText(QStringLiteral("For example 3, 5, 8-10"));
    field->resize(260, 36);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    field->setProperty("invalid", true);
    repolish(field);
    QVERIFY2(near(darkest(field), kMuted), qPrintable(darkest(field).name()));

    // On the live wall's dark fields, the wall's muted colour.
    QCOMPARE(hintColour(token("vField")), token("vMuted"));
    QCOMPARE(hintColour(token("white")), kMuted);
}

KVR_TEST_MAIN(NativeStyleTest)

#include "tst_native_style.moc"

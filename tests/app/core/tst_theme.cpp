#include "app/core/Theme.h"
#include "tests/support/TestKit.h"

#include <QCalendarWidget>
#include <QCheckBox>
#include <QDateEdit>
#include <QFile>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QSlider>
#include <QTableWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

using Theme::Icon;

namespace {

QImage iconImage(Icon kind, const QColor& colour, int size)
{
    const QIcon icon = Theme::icon(kind, colour, size);
    return icon.pixmap(QSize(size, size), 2.0).toImage().convertToFormat(QImage::Format_ARGB32);
}

// The pixel under a point given as fractions of the icon's side.
QColor at(const QImage& img, qreal fx, qreal fy)
{
    return img.pixelColor(int(fx * img.width()), int(fy * img.height()));
}

bool fullyTransparent(const QImage& img)
{
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            if (qAlpha(img.pixel(x, y)) != 0)
                return false;
    return true;
}

int paintedPixels(const QImage& img)
{
    int n = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            n += qAlpha(img.pixel(x, y)) > 0 ? 1 : 0;
    return n;
}

// Device pixels in column x whose alpha is at least half, within rows y0..y1.
int coveredRun(const QImage& img, int x, int y0, int y1)
{
    int n = 0;
    for (int y = y0; y <= y1; ++y)
        n += qAlpha(img.pixel(x, y)) >= 128 ? 1 : 0;
    return n;
}

// Families of every font the application has registered, in id order.
QStringList applicationFaces()
{
    QStringList out;
    for (int id = 0; id < 256; ++id) {
        const QStringList families = QFontDatabase::applicationFontFamilies(id);
        if (!families.isEmpty())
            out << families.first();
    }
    return out;
}

bool near(const QColor& a, const QColor& b, int tolerance = 3)
{
    return qAbs(a.red() - b.red()) <= tolerance && qAbs(a.green() - b.green()) <= tolerance
        && qAbs(a.blue() - b.blue()) <= tolerance;
}

// Over an opaque backdrop: what a colour with alpha `a` (0..1) shows as.
QColor over(const QColor& top, qreal a, const QColor& under)
{
    return QColor(qRound(top.red() * a + under.red() * (1 - a)), qRound(top.green() * a + under.green() * (1 - a)),
                  qRound(top.blue() * a + under.blue() * (1 - a)));
}

// What the window shows at a point of one of its widgets (grabbing the whole
// window, so that translucent backgrounds lie over what is really behind them).
// Keeps a picture for a person to look at when KVR_TEST_SHOTS names a folder.
void keepShot(const QImage& img, const QString& name)
{
    const QString dir = qEnvironmentVariable("KVR_TEST_SHOTS");
    if (!dir.isEmpty())
        QVERIFY(img.save(dir + QLatin1Char('/') + name));
}

QColor shownAt(QWidget* window, QWidget* w, QPoint local)
{
    const QImage img = window->grab().toImage();
    return img.pixelColor(w->mapTo(window, local));
}

// Middle of the left side, clear of a button's text and rounded corners.
QColor leftOf(QWidget* window, QWidget* w)
{
    return shownAt(window, w, QPoint(10, w->height() / 2));
}

} // namespace

class TestTheme : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Runs first, while the process has registered no fonts of its own.
    void fontsRegisterInOrderAndResolve()
    {
        kvrtest::LogCapture log;
        Theme::loadFonts();
        QCOMPARE(applicationFaces(), (QStringList{"Inter", "Inter", "Inter", "Poppins", "Poppins", "Poppins"}));
        QVERIFY2(log.messages().isEmpty(), qPrintable(log.messages().join('\n')));

        // Each weight the sheets ask for resolves to its own face.
        const QList<std::pair<int, QString>> poppins{
            {QFont::Normal, "Regular"}, {QFont::Medium, "Medium"}, {QFont::DemiBold, "SemiBold"}};
        for (const auto& [weight, style] : poppins) {
            QFont f(QStringLiteral("Poppins"));
            f.setPixelSize(20);
            f.setWeight(QFont::Weight(weight));
            const QFontInfo info(f);
            QCOMPARE(info.family(), QStringLiteral("Poppins"));
            QCOMPARE(info.styleName(), style);
        }
        const QStringList interStyles = QFontDatabase::styles(QStringLiteral("Inter"));
        QVERIFY(interStyles.contains("Regular"));
        QVERIFY(interStyles.contains("Medium"));
        QVERIFY(interStyles.contains("Semi Bold"));
    }

    void missingFontResourcesAreSkippedQuietly()
    {
        const int before = applicationFaces().size();
        Q_CLEANUP_RESOURCE(kavira);
        QVERIFY(!QFile::exists(":/fonts/Inter-Regular.ttf"));
        {
            kvrtest::LogCapture log;
            Theme::loadFonts();
            QVERIFY2(log.messages().isEmpty(), qPrintable(log.messages().join('\n')));
        }
        QCOMPARE(applicationFaces().size(), before);
        Q_INIT_RESOURCE(kavira);
        QVERIFY(QFile::exists(":/fonts/Inter-Regular.ttf"));
    }

    void colourConstantsAreOpaque()
    {
        for (const QColor& c : {Theme::kBackdrop, Theme::kAccent, Theme::kMuted, Theme::kLive})
            QCOMPARE(c.alpha(), 255);
        QCOMPARE(Theme::kBackdrop.name(), QStringLiteral("#0b0f14"));
        QCOMPARE(Theme::kAccent.name(), QStringLiteral("#3b82f6"));
        QCOMPARE(Theme::kMuted.name(), QStringLiteral("#8a96a8"));
        QCOMPARE(Theme::kLive.name(), QStringLiteral("#f2555a"));
    }

    void iconsAreTwiceTheirLogicalSize_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("pixels");
        QTest::newRow("12") << 12 << 24;
        QTest::newRow("16") << 16 << 32;
        QTest::newRow("18") << 18 << 36;
        QTest::newRow("20") << 20 << 40;
        QTest::newRow("odd 9") << 9 << 18;
    }

    void iconsAreTwiceTheirLogicalSize()
    {
        QFETCH(int, size);
        QFETCH(int, pixels);
        for (int k = 0; k < Theme::kIconKinds; ++k) {
            const QIcon icon = Theme::icon(Icon(k), Theme::kAccent, size);
            QVERIFY(!icon.isNull());
            QCOMPARE(icon.availableSizes(), QList<QSize>{QSize(pixels, pixels)});
            const QPixmap pm = icon.pixmap(QSize(size, size), 2.0);
            QCOMPARE(pm.size(), QSize(pixels, pixels));
            QCOMPARE(pm.devicePixelRatio(), 2.0);
            // Every kind paints something, but never the whole square.
            const QImage img = pm.toImage();
            const int painted = paintedPixels(img);
            QVERIFY2(painted > 0, qPrintable(QString("kind %1 is empty").arg(k)));
            QVERIFY2(painted < pixels * pixels, qPrintable(QString("kind %1 is solid").arg(k)));
        }
    }

    void unknownKindsAndBadSizesPaintNothing()
    {
        for (int k : {17, 42, -1}) {
            const QImage img = iconImage(Icon(k), Theme::kAccent, 20);
            QCOMPARE(img.size(), QSize(40, 40));
            QVERIFY(fullyTransparent(img));
        }
        QVERIFY(Theme::icon(Icon::Play, Theme::kAccent, 0).isNull());
        QVERIFY(Theme::icon(Icon::Play, Theme::kAccent, -5).isNull());
    }

    void filledKindsFillWhereDrawn()
    {
        const QColor red(0xf2, 0x55, 0x5a);
        const QImage play = iconImage(Icon::Play, red, 20);
        QCOMPARE(at(play, 0.48, 0.5), red); // centroid of the triangle
        QCOMPARE(at(play, 0.33, 0.5).alpha(), 255);
        QCOMPARE(at(play, 0.05, 0.05).alpha(), 0);
        QCOMPARE(at(play, 0.9, 0.5).alpha(), 0); // beyond the apex
        QCOMPARE(at(play, 0.4, 0.15).alpha(), 0); // above the top edge

        const QImage pause = iconImage(Icon::Pause, red, 20);
        QCOMPARE(at(pause, 0.36, 0.5), red);
        QCOMPARE(at(pause, 0.64, 0.5), red);
        QCOMPARE(at(pause, 0.5, 0.5).alpha(), 0); // the gap between the bars

        const QImage stop = iconImage(Icon::Stop, red, 20);
        QCOMPARE(at(stop, 0.5, 0.5), red);
        QCOMPARE(at(stop, 0.5, 0.72), red);
        QCOMPARE(at(stop, 0.27, 0.27).alpha(), 0); // cut off by the rounded corner
        QCOMPARE(at(stop, 0.2, 0.5).alpha(), 0);
    }

    void strokedKindsFollowTheirLines()
    {
        const QColor c = Theme::kMuted;
        const QImage close = iconImage(Icon::Close, c, 20);
        QCOMPARE(at(close, 0.5, 0.5), c); // where the two lines cross
        QCOMPARE(at(close, 0.5, 0.3).alpha(), 0);
        QCOMPARE(at(close, 0.1, 0.1).alpha(), 0);

        const QImage search = iconImage(Icon::Search, c, 20);
        QCOMPARE(at(search, 0.42, 0.42).alpha(), 0); // the lens is hollow
        QCOMPARE(at(search, 0.69, 0.69).alpha(), 255); // the handle
        QCOMPARE(at(search, 0.2, 0.42).alpha(), 255); // the rim

        const QImage left = iconImage(Icon::ChevronLeft, c, 20);
        const QImage right = iconImage(Icon::ChevronRight, c, 20);
        QCOMPARE(at(left, 0.38, 0.5).alpha(), 255);
        QCOMPARE(at(left, 0.62, 0.5).alpha(), 0);
        QCOMPARE(at(right, 0.62, 0.5).alpha(), 255);
        QCOMPARE(at(right, 0.38, 0.5).alpha(), 0);

        const QImage settings = iconImage(Icon::Settings, c, 20);
        QCOMPARE(at(settings, 0.5, 0.5).alpha(), 0); // hub is hollow
        QCOMPARE(at(settings, 0.65, 0.5).alpha(), 255); // inner ring
        QCOMPARE(at(settings, 0.5, 0.12).alpha(), 255); // end of the upward ray

        const QImage enter = iconImage(Icon::EnterFullscreen, c, 20);
        const QImage leave = iconImage(Icon::LeaveFullscreen, c, 20);
        QCOMPARE(at(enter, 0.22, 0.22).alpha(), 255);
        QCOMPARE(at(enter, 0.5, 0.5).alpha(), 0);
        QCOMPARE(at(leave, 0.4, 0.4).alpha(), 255);
        QCOMPARE(at(leave, 0.15, 0.15).alpha(), 0);
    }

    void soundKindsShareTheSpeaker()
    {
        const QColor c = Theme::kAccent;
        const QImage on = iconImage(Icon::SoundOn, c, 20);
        const QImage off = iconImage(Icon::SoundOff, c, 20);
        for (const QImage& img : {on, off})
            QCOMPARE(at(img, 0.42, 0.5), c); // inside the filled speaker
        QCOMPARE(at(off, 0.74, 0.5).alpha(), 255); // the cross
        QCOMPARE(at(on, 0.74, 0.5).alpha(), 0); // between the two waves
        QCOMPARE(at(on, 0.84, 0.5).alpha(), 255); // the outer wave
        QCOMPARE(at(on, 0.66, 0.5).alpha(), 255); // the inner wave
        QCOMPARE(at(on, 0.35, 0.5).alpha(), 255);
    }

    void strokeKeepsItsWidthAtEverySize()
    {
        // The top arm of the full-screen corner mark, measured across: 1.8
        // logical pixels are 3.6 device pixels at every size.
        for (int size : {12, 20, 48}) {
            const QImage img = iconImage(Icon::EnterFullscreen, Theme::kAccent, size);
            const int x = int(0.3 * img.width());
            const int run = coveredRun(img, x, 0, int(0.35 * img.height()));
            QVERIFY2(run >= 3 && run <= 5, qPrintable(QString("size %1: %2 px").arg(size).arg(run)));
        }
    }

    void roundedScalesAndClipsCorners()
    {
        QPixmap picture(100, 50);
        picture.fill(QColor(10, 200, 30));
        const QPixmap out = Theme::rounded(picture, 20, 4);
        QCOMPARE(out.size(), QSize(80, 40));
        QCOMPARE(out.devicePixelRatio(), 2.0);
        const QImage img = out.toImage().convertToFormat(QImage::Format_ARGB32);
        for (const QPoint& corner : {QPoint(0, 0), QPoint(79, 0), QPoint(0, 39), QPoint(79, 39), QPoint(1, 1)})
            QCOMPARE(qAlpha(img.pixel(corner)), 0);
        QCOMPARE(img.pixelColor(40, 20), QColor(10, 200, 30));
        QCOMPARE(qAlpha(img.pixel(0, 20)), 255); // straight edges stay whole
        QCOMPARE(qAlpha(img.pixel(40, 0)), 255);
        // Corners of radius 8 device pixels: (1, 1) lies outside that arc (it
        // would be inside a radius of 4), (4, 4) inside it.
        QVERIFY(qAlpha(img.pixel(4, 4)) > 200);
    }

    void roundedIgnoresTheSourceRatioAndBadInput()
    {
        QPixmap hiDpi(200, 100);
        hiDpi.fill(Qt::white);
        hiDpi.setDevicePixelRatio(2.0);
        const QPixmap out = Theme::rounded(hiDpi, 20, 4);
        QCOMPARE(out.size(), QSize(80, 40));
        const QImage img = out.toImage().convertToFormat(QImage::Format_ARGB32);
        QCOMPARE(img.pixelColor(75, 20), QColor(Qt::white)); // filled to the right edge
        QCOMPARE(img.pixelColor(40, 36), QColor(Qt::white)); // and to the bottom

        QVERIFY(Theme::rounded(QPixmap(), 20, 4).isNull());
        QVERIFY(Theme::rounded(hiDpi, 0, 4).isNull());
        QCOMPARE(Theme::rounded(hiDpi, 10, 0).size(), QSize(40, 20));
    }

    void brandMarkRoundsForTheNativeTopBar()
    {
        const QPixmap mark(QStringLiteral(":/brand/mark.png"));
        QVERIFY(!mark.isNull());
        const QPixmap out = Theme::rounded(mark, 32, 8);
        QCOMPARE(out.height(), 64);
        QCOMPARE(out.deviceIndependentSize().height(), 32.0);
        QCOMPARE(qAlpha(out.toImage().pixel(0, 0)), 0);
    }

    void brandResourcesExist()
    {
        for (const char* png : {":/brand/icon.png", ":/brand/mark.png", ":/brand/logo.png"})
            QVERIFY2(!QImage(QString::fromLatin1(png)).isNull(), png);
        QFile film(QStringLiteral(":/brand/login.mp4"));
        QVERIFY(film.open(QIODevice::ReadOnly));
        QVERIFY(film.size() > 10'000);
        QCOMPARE(film.read(8).mid(4), QByteArray("ftyp")); // an MP4 box header
        for (const char* svg : {":/native/chevron-down.svg", ":/native/check.svg"}) {
            QFile f(QString::fromLatin1(svg));
            QVERIFY2(f.open(QIODevice::ReadOnly), svg);
            QVERIFY(f.readAll().contains("<svg"));
        }
    }

    void loginStyleParsesAndStylesItsNames()
    {
        kvrtest::LogCapture log;
        QWidget root;
        root.setObjectName("LoginRoot");
        auto* lay = new QVBoxLayout(&root);
        auto* headline = new QLabel("Watch every site", &root);
        headline->setObjectName("BrandHeadline");
        auto* label = new QLabel("Username", &root);
        label->setObjectName("LoginLabel");
        auto* error = new QLabel("Wrong password", &root);
        error->setObjectName("LoginError");
        auto* field = new QLineEdit(&root);
        field->setObjectName("LoginField");
        auto* digit = new QLineEdit(&root);
        digit->setObjectName("OtpDigit");
        auto* remember = new QCheckBox("Remember me for 7 days", &root);
        auto* primary = new QPushButton("Sign in", &root);
        primary->setObjectName("LoginPrimary");
        auto* text = new QPushButton("Show", &root);
        text->setObjectName("LoginText");
        for (QWidget* w : QList<QWidget*>{headline, label, error, field, digit, remember, primary, text})
            lay->addWidget(w);
        root.setStyleSheet(Theme::loginStyle());
        root.resize(480, 640);
        root.ensurePolished();
        const QImage shot = root.grab().toImage();
        keepShot(shot, QStringLiteral("theme-login.png"));
        QVERIFY2(!log.contains("Could not parse"), qPrintable(log.messages().join('\n')));

        QCOMPARE(shot.pixelColor(2, 2), Theme::kBackdrop);
        QCOMPARE(headline->font().family(), QStringLiteral("Poppins"));
        QCOMPARE(headline->font().pixelSize(), 38);
        QCOMPARE(headline->font().weight(), QFont::DemiBold);
        QCOMPARE(label->font().family(), QStringLiteral("Inter"));
        QCOMPARE(label->font().pixelSize(), 13);
        QCOMPARE(label->font().weight(), QFont::Medium);
        QCOMPARE(label->palette().color(QPalette::WindowText), QColor("#cfd6e2"));
        QVERIFY(field->minimumSizeHint().height() >= 50);
        QCOMPARE(digit->font().pixelSize(), 22);
        QVERIFY(primary->sizeHint().height() >= 50);
        QCOMPARE(leftOf(&root, primary), QColor("#3b82f6"));
        primary->setEnabled(false);
        QVERIFY(near(leftOf(&root, primary), over(QColor(59, 130, 246), 0.35, Theme::kBackdrop)));
        QCOMPARE(text->palette().color(QPalette::ButtonText), QColor("#7fb0ff"));
    }

    void appStyleParsesAndStylesItsNames()
    {
        kvrtest::LogCapture log;
        QWidget root;
        root.setObjectName("AppRoot");
        auto* lay = new QVBoxLayout(&root);
        auto* top = new QWidget(&root);
        top->setObjectName("TopBar");
        auto* topLay = new QHBoxLayout(top);
        auto* title = new QLabel("Front gate", top);
        title->setObjectName("ScreenTitle");
        auto* badge = new QLabel("LIVE", top);
        badge->setObjectName("ModeBadge");
        badge->setProperty("mode", "live");
        auto* avatar = new QLabel("AK", top);
        avatar->setObjectName("Avatar");
        auto* iconBtn = new QPushButton(top);
        iconBtn->setObjectName("IconBtn");
        auto* dot = new QLabel(top);
        dot->setObjectName("Dot");
        auto* onlineDot = new QLabel(top);
        onlineDot->setObjectName("Dot");
        onlineDot->setProperty("state", "online");
        auto* chip = new QLabel("Online", top);
        chip->setObjectName("Chip");
        chip->setProperty("state", "online");
        topLay->addWidget(title);
        topLay->addWidget(badge);
        topLay->addWidget(avatar);
        topLay->addWidget(iconBtn);
        topLay->addWidget(dot);
        topLay->addWidget(onlineDot);
        topLay->addWidget(chip);
        auto* primary = new QPushButton("Play", &root);
        primary->setObjectName("Primary");
        auto* tile = new QFrame(&root);
        tile->setObjectName("Tile");
        tile->setProperty("selected", "true");
        tile->setMinimumHeight(120);
        auto* seek = new QSlider(Qt::Horizontal, &root);
        seek->setObjectName("Seek");
        auto* search = new QLineEdit(&root);
        search->setObjectName("Search");
        auto* tree = new QTreeWidget(&root);
        tree->setObjectName("CatalogTree");
        tree->setHeaderHidden(true);
        auto* table = new QTableWidget(2, 2, &root);
        auto* presets = new QListWidget(&root);
        presets->setObjectName("PresetList");
        auto* date = new QDateEdit(&root);
        date->setCalendarPopup(true);
        auto* calendar = new QCalendarWidget(&root);
        for (QWidget* w : QList<QWidget*>{top, primary, tile, seek, search, tree, table, presets, date, calendar})
            lay->addWidget(w);
        root.setStyleSheet(Theme::appStyle());
        root.resize(900, 1200);
        root.ensurePolished();
        lay->activate();
        const QImage shot = root.grab().toImage();
        keepShot(shot, QStringLiteral("theme-app.png"));
        QVERIFY2(!log.contains("Could not parse"), qPrintable(log.messages().join('\n')));

        QCOMPARE(shot.pixelColor(1, shot.height() - 2), Theme::kBackdrop);
        QCOMPARE(top->maximumHeight(), 56);
        QCOMPARE(top->height(), 56);
        QCOMPARE(shownAt(&root, top, QPoint(2, 2)), QColor("#11161d"));
        QCOMPARE(shownAt(&root, top, QPoint(2, 55)), QColor("#1b2330")); // its bottom line
        QCOMPARE(title->font().pixelSize(), 22);
        QCOMPARE(title->font().weight(), QFont::DemiBold);
        QCOMPARE(avatar->size(), QSize(32, 32));
        QCOMPARE(avatar->alignment(), Qt::AlignCenter);
        QCOMPARE(iconBtn->size(), QSize(36, 36));
        QCOMPARE(leftOf(&root, primary), Theme::kAccent);
        // Fixed sizes hold whatever the border: the idle dot with its ring is
        // as big as the filled ones.
        QCOMPARE(dot->size(), QSize(8, 8));
        QCOMPARE(onlineDot->size(), QSize(8, 8));
        QCOMPARE(chip->height(), 18);
        QCOMPARE(badge->palette().color(QPalette::WindowText), QColor("#ff8a8e"));
        // Mode and selection properties pick their own rules.
        QVERIFY(near(shownAt(&root, badge, QPoint(badge->width() - 6, badge->height() / 2)),
                     over(Theme::kLive, 0.16, QColor("#11161d"))));
        const QImage tileShot = tile->grab().toImage();
        QCOMPARE(tileShot.pixelColor(0, tileShot.height() / 2), Theme::kAccent);
        QCOMPARE(tileShot.pixelColor(tileShot.width() / 2, tileShot.height() / 2), Theme::kBackdrop);
        tile->setProperty("selected", "false");
        tile->style()->unpolish(tile);
        tile->style()->polish(tile);
        QCOMPARE(tile->grab().toImage().pixelColor(0, tileShot.height() / 2), QColor("#1b2330"));
        QCOMPARE(search->font().family(), QStringLiteral("Inter"));
        QCOMPARE(search->font().pixelSize(), 14);
    }

    // Draws every kind at every size the screens use, muted and accent, on the
    // dark backdrop: a sheet for a person to look at. Saved when
    // KVR_TEST_SHOTS names a folder.
    void iconSheet()
    {
        const QList<int> sizes{12, 16, 18, 20, 48};
        const int cell = 64, labelW = 150;
        const int cols = int(sizes.size()) * 2;
        QImage sheet(QSize(labelW + cols * cell, 40 + Theme::kIconKinds * cell) * 2, QImage::Format_ARGB32);
        sheet.setDevicePixelRatio(2.0);
        sheet.fill(Theme::kBackdrop);
        QPainter p(&sheet);
        QFont f(QStringLiteral("Inter"));
        f.setPixelSize(12);
        p.setFont(f);
        p.setPen(QColor("#e8ecf2"));
        static const char* const names[] = {"Play", "Pause", "Stop", "EnterFullscreen", "LeaveFullscreen",
                                            "Search", "ChevronLeft", "ChevronRight", "SoundOn", "SoundOff",
                                            "Settings", "Checked", "Snapshot", "Close", "Expand",
                                            "SkipStart", "SkipEnd"};
        for (int c = 0; c < cols; ++c) {
            const bool accent = c >= sizes.size();
            p.drawText(QRect(labelW + c * cell, 0, cell, 40), Qt::AlignCenter,
                       QString("%1 %2").arg(sizes[c % sizes.size()]).arg(accent ? "acc" : "mut"));
        }
        for (int k = 0; k < Theme::kIconKinds; ++k) {
            const int y = 40 + k * cell;
            p.drawText(QRect(8, y, labelW - 8, cell), Qt::AlignVCenter | Qt::AlignLeft,
                       QString("%1 %2").arg(k).arg(names[k]));
            for (int c = 0; c < cols; ++c) {
                const int s = sizes[c % sizes.size()];
                const QColor colour = c >= sizes.size() ? Theme::kAccent : Theme::kMuted;
                const QPixmap pm = Theme::icon(Icon(k), colour, s).pixmap(QSize(s, s), 2.0);
                const QPoint topLeft(labelW + c * cell + (cell - s) / 2, y + (cell - s) / 2);
                p.drawPixmap(topLeft, pm);
            }
        }
        p.end();
        keepShot(sheet, QStringLiteral("icons.png"));
        // The 48-pixel accent column of Play shows the accent colour at the
        // triangle's centroid.
        const int x = labelW + (cols - 1) * cell + (cell - 48) / 2;
        const QPoint centroid(int((x + 0.48 * 48) * 2), int((40 + (cell - 48) / 2 + 0.5 * 48) * 2));
        QCOMPARE(sheet.pixelColor(centroid), Theme::kAccent);
    }
};

KVR_TEST_MAIN(TestTheme)
#include "tst_theme.moc"

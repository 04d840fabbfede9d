#include "app/ui/Modal.h"
#include "app/ui/Theme.h"
#include "tests/support/TestKit.h"

#include <QCalendarWidget>
#include <QCheckBox>
#include <QDateEdit>
#include <QFile>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QSet>
#include <QSlider>
#include <QTableWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

using Theme::Icon;

namespace {

QImage iconImage(Icon kind, const QColor& colour, int size)
{
    return Theme::icon(kind, colour, size)
        .pixmap(QSize(size, size), 2.0)
        .toImage()
        .convertToFormat(QImage::Format_ARGB32);
}

int paintedPixels(const QImage& img)
{
    int n = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            n += qAlpha(img.pixel(x, y)) > 0 ? 1 : 0;
    return n;
}

// Families of every font the application has registered, in id order.
QStringList applicationFaces()
{
    QStringList out;
    for (int id = 0; id < 256; ++id)
        if (const QStringList families = QFontDatabase::applicationFontFamilies(id); !families.isEmpty())
            out << families.first();
    return out;
}

bool near(const QColor& a, const QColor& b)
{
    return qAbs(a.red() - b.red()) <= 3 && qAbs(a.green() - b.green()) <= 3 && qAbs(a.blue() - b.blue()) <= 3;
}

// Over an opaque backdrop: what a colour with alpha `a` (0..1) shows as.
QColor over(const QColor& top, qreal a, const QColor& under)
{
    return QColor(qRound(top.red() * a + under.red() * (1 - a)), qRound(top.green() * a + under.green() * (1 - a)),
                  qRound(top.blue() * a + under.blue() * (1 - a)));
}

// Keeps a picture for a person to look at when KVR_TEST_SHOTS names a folder.
void keepShot(const QImage& img, const QString& name)
{
    const QString dir = qEnvironmentVariable("KVR_TEST_SHOTS");
    if (!dir.isEmpty())
        QVERIFY(img.save(dir + QLatin1Char('/') + name));
}

// What the window shows at a point of one of its widgets (grabbing the whole
// window, so that translucent backgrounds lie over what is really behind them).
QColor shownAt(QWidget* window, QWidget* w, QPoint local)
{
    return window->grab().toImage().pixelColor(w->mapTo(window, local));
}

// Middle of the left side, clear of a button's text and rounded corners.
QColor leftOf(QWidget* window, QWidget* w)
{
    return shownAt(window, w, QPoint(10, w->height() / 2));
}

template <typename W> W* named(QWidget* parent, const char* name, W* w)
{
    w->setObjectName(QString::fromLatin1(name));
    parent->layout()->addWidget(w);
    return w;
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
            QCOMPARE(QFontInfo(f).family(), QStringLiteral("Poppins"));
            QCOMPARE(QFontInfo(f).styleName(), style);
        }
        const QStringList interStyles = QFontDatabase::styles(QStringLiteral("Inter"));
        for (const char* style : {"Regular", "Medium", "Semi Bold"})
            QVERIFY2(interStyles.contains(style), style);

        // Missing resources are skipped quietly.
        Q_CLEANUP_RESOURCE(kavira);
        QVERIFY(!QFile::exists(":/fonts/Inter-Regular.ttf"));
        Theme::loadFonts();
        Q_INIT_RESOURCE(kavira);
        QVERIFY2(log.messages().isEmpty(), qPrintable(log.messages().join('\n')));
        QCOMPARE(applicationFaces().size(), 6);
    }

    // Points (fractions of the side) that must carry ink or stay clear: each
    // kind's own shape, not just "something was drawn".
    void kindsPaintTheirShapes()
    {
        struct Probe {
            Icon kind;
            qreal x, y;
            bool ink;
        };
        const QList<Probe> probes{{Icon::Play, 0.48, 0.5, true},
                                  {Icon::Play, 0.33, 0.5, true},
                                  {Icon::Play, 0.05, 0.05, false},
                                  {Icon::Play, 0.9, 0.5, false},
                                  {Icon::Play, 0.4, 0.15, false},
                                  {Icon::Pause, 0.36, 0.5, true},
                                  {Icon::Pause, 0.64, 0.5, true},
                                  {Icon::Pause, 0.5, 0.5, false},
                                  {Icon::Stop, 0.5, 0.72, true},
                                  {Icon::Stop, 0.27, 0.27, false},
                                  {Icon::Stop, 0.2, 0.5, false},
                                  {Icon::Close, 0.5, 0.5, true},
                                  {Icon::Close, 0.5, 0.3, false},
                                  {Icon::Close, 0.1, 0.1, false},
                                  {Icon::Search, 0.42, 0.42, false},
                                  {Icon::Search, 0.69, 0.69, true},
                                  {Icon::Search, 0.2, 0.42, true},
                                  {Icon::ChevronLeft, 0.38, 0.5, true},
                                  {Icon::ChevronLeft, 0.62, 0.5, false},
                                  {Icon::ChevronRight, 0.62, 0.5, true},
                                  {Icon::ChevronRight, 0.38, 0.5, false},
                                  {Icon::Settings, 0.5, 0.5, false},
                                  {Icon::Settings, 0.65, 0.5, true},
                                  {Icon::Settings, 0.5, 0.12, true},
                                  {Icon::EnterFullscreen, 0.22, 0.22, true},
                                  {Icon::EnterFullscreen, 0.5, 0.5, false},
                                  {Icon::LeaveFullscreen, 0.4, 0.4, true},
                                  {Icon::LeaveFullscreen, 0.15, 0.15, false},
                                  {Icon::SoundOn, 0.42, 0.5, true},
                                  {Icon::SoundOff, 0.42, 0.5, true},
                                  {Icon::SoundOff, 0.74, 0.5, true},
                                  {Icon::SoundOn, 0.74, 0.5, false},
                                  {Icon::SoundOn, 0.84, 0.5, true},
                                  {Icon::SoundOn, 0.66, 0.5, true}};
        const QColor red(0xf2, 0x55, 0x5a);
        for (const Probe& p : probes) {
            const QImage img = iconImage(p.kind, red, 20);
            const QColor c = img.pixelColor(int(p.x * img.width()), int(p.y * img.height()));
            QVERIFY2(
                p.ink ? c == red : c.alpha() == 0,
                qPrintable(
                    QString("kind %1 at %2,%3: %4").arg(int(p.kind)).arg(p.x).arg(p.y).arg(c.name(QColor::HexArgb))));
        }
        // The top arm of the full-screen mark, measured across: 1.8 logical
        // pixels are 3.6 device pixels at every size.
        for (int size : {12, 20, 48}) {
            const QImage img = iconImage(Icon::EnterFullscreen, Theme::kAccent, size);
            int run = 0;
            for (int y = 0; y <= int(0.35 * img.height()); ++y)
                run += qAlpha(img.pixel(int(0.3 * img.width()), y)) >= 128 ? 1 : 0;
            QVERIFY2(run >= 3 && run <= 5, qPrintable(QString("size %1: %2 px").arg(size).arg(run)));
        }
    }

    void roundedScalesAndClipsCorners()
    {
        QPixmap picture(100, 50);
        picture.fill(QColor(10, 200, 30));
        const QImage img = Theme::rounded(picture, 20, 4).toImage().convertToFormat(QImage::Format_ARGB32);
        QCOMPARE(img.size(), QSize(80, 40));
        QCOMPARE(img.devicePixelRatio(), 2.0);
        for (const QPoint& corner : {QPoint(0, 0), QPoint(79, 0), QPoint(0, 39), QPoint(79, 39), QPoint(1, 1)})
            QCOMPARE(qAlpha(img.pixel(corner)), 0); // radius 8 device pixels, not 4
        QVERIFY(qAlpha(img.pixel(4, 4)) > 200);
        QCOMPARE(img.pixelColor(40, 20), QColor(10, 200, 30));
        QCOMPARE(qAlpha(img.pixel(0, 20)), 255); // straight edges stay whole
        QCOMPARE(qAlpha(img.pixel(40, 0)), 255);

        // The source's own ratio is ignored: filled to the right and bottom edges.
        QPixmap hiDpi(200, 100);
        hiDpi.fill(Qt::white);
        hiDpi.setDevicePixelRatio(2.0);
        const QImage hi = Theme::rounded(hiDpi, 20, 4).toImage().convertToFormat(QImage::Format_ARGB32);
        QCOMPARE(hi.size(), QSize(80, 40));
        QCOMPARE(hi.pixelColor(75, 20), QColor(Qt::white));
        QCOMPARE(hi.pixelColor(40, 36), QColor(Qt::white));
        QVERIFY(Theme::rounded(QPixmap(), 20, 4).isNull());
        QVERIFY(Theme::rounded(hiDpi, 0, 4).isNull());
        QCOMPARE(Theme::rounded(hiDpi, 10, 0).size(), QSize(40, 20));
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
            QVERIFY2(f.open(QIODevice::ReadOnly) && f.readAll().contains("<svg"), svg);
        }
    }

    void loginStyleParsesAndStylesItsNames()
    {
        kvrtest::LogCapture log;
        QWidget root;
        root.setObjectName("LoginRoot");
        new QVBoxLayout(&root);
        auto* headline = named(&root, "BrandHeadline", new QLabel("Watch every site"));
        auto* label = named(&root, "LoginLabel", new QLabel("Username"));
        named(&root, "LoginError", new QLabel("Wrong password"));
        named(&root, "LoginField", new QLineEdit);
        named(&root, "OtpDigit", new QLineEdit);
        named(&root, "", new QCheckBox("Remember me for 7 days"));
        auto* primary = named(&root, "LoginPrimary", new QPushButton("Sign in"));
        named(&root, "LoginText", new QPushButton("Show"));
        root.setStyleSheet(Theme::loginStyle());
        root.resize(480, 640);
        root.ensurePolished();
        const QImage shot = root.grab().toImage();
        keepShot(shot, QStringLiteral("theme-login.png"));
        QVERIFY2(!log.contains("Could not parse"), qPrintable(log.messages().join('\n')));

        QCOMPARE(shot.pixelColor(2, 2), Theme::kBackdrop);
        QCOMPARE(headline->font().family(), QStringLiteral("Poppins"));
        QCOMPARE(headline->font().weight(), QFont::DemiBold);
        QCOMPARE(label->font().family(), QStringLiteral("Inter"));
        QCOMPARE(label->font().weight(), QFont::Medium);
        QCOMPARE(leftOf(&root, primary), Theme::kAccent);
        primary->setEnabled(false);
        QVERIFY(near(leftOf(&root, primary), over(Theme::kAccent, 0.35, Theme::kBackdrop)));
    }

    void appStyleParsesAndStylesItsNames()
    {
        kvrtest::LogCapture log;
        QWidget root;
        root.setObjectName("AppRoot");
        new QVBoxLayout(&root);
        auto* top = named(&root, "TopBar", new QWidget);
        new QHBoxLayout(top);
        named(top, "ScreenTitle", new QLabel("Front gate"));
        auto* badge = named(top, "ModeBadge", new QLabel("LIVE"));
        badge->setProperty("mode", "live");
        named(top, "Avatar", new QLabel("AK"));
        named(top, "IconBtn", new QPushButton);
        auto* dot = named(top, "Dot", new QLabel);
        auto* onlineDot = named(top, "Dot", new QLabel);
        onlineDot->setProperty("state", "online");
        named(top, "Chip", new QLabel("Online"))->setProperty("state", "online");
        auto* primary = named(&root, "Primary", new QPushButton("Play"));
        auto* tile = named(&root, "Tile", new QFrame);
        tile->setProperty("selected", "true");
        tile->setMinimumHeight(120);
        named(&root, "Seek", new QSlider(Qt::Horizontal));
        named(&root, "Search", new QLineEdit);
        named(&root, "CatalogTree", new QTreeWidget)->setHeaderHidden(true);
        named(&root, "", new QTableWidget(2, 2));
        named(&root, "PresetList", new QListWidget);
        named(&root, "", new QDateEdit)->setCalendarPopup(true);
        named(&root, "", new QCalendarWidget);
        root.setStyleSheet(Theme::appStyle());
        root.resize(900, 1200);
        root.ensurePolished();
        root.layout()->activate();
        const QImage shot = root.grab().toImage();
        keepShot(shot, QStringLiteral("theme-app.png"));
        QVERIFY2(!log.contains("Could not parse"), qPrintable(log.messages().join('\n')));

        QCOMPARE(shot.pixelColor(1, shot.height() - 2), Theme::kBackdrop);
        QCOMPARE(top->height(), 56);
        QCOMPARE(leftOf(&root, primary), Theme::kAccent);
        // Fixed sizes hold whatever the border: the idle dot with its ring is
        // as big as the filled ones.
        QCOMPARE(dot->size(), QSize(8, 8));
        QCOMPARE(onlineDot->size(), QSize(8, 8));
        // Mode and selection properties pick their own rules.
        const QColor topBar = shownAt(&root, top, QPoint(2, 2));
        QVERIFY(near(shownAt(&root, badge, QPoint(badge->width() - 6, badge->height() / 2)),
                     over(Theme::kLive, 0.16, topBar)));
        const int mid = tile->height() / 2;
        QCOMPARE(tile->grab().toImage().pixelColor(0, mid), Theme::kAccent);
        QCOMPARE(tile->grab().toImage().pixelColor(tile->width() / 2, mid), Theme::kBackdrop);
        tile->setProperty("selected", "false");
        tile->style()->unpolish(tile);
        tile->style()->polish(tile);
        QVERIFY(tile->grab().toImage().pixelColor(0, mid) != Theme::kAccent);
    }

    // Draws every kind at every size the screens use (and an odd one), muted
    // and accent, on the dark backdrop: a sheet for a person to look at (kept
    // with KVR_TEST_SHOTS). Every icon is twice its logical size and paints
    // something, never the whole square.
    // Sheets name colours; every name must be known, and the painting
    // constants must agree with the table the sheets are written from.
    void tokensWriteOutEverySheetColour()
    {
        for (const QString& sheet : {Theme::loginStyle(), Theme::appStyle()}) {
            QVERIFY(!sheet.contains(QLatin1Char('@')));
            QVERIFY(sheet.contains(QStringLiteral("#3b82f6")));
        }
        QCOMPARE(Theme::expandTokens(QStringLiteral("a: @accent; b: @live/0.12; c: @nosuch; d: x@y.z")),
                 QStringLiteral("a: #3b82f6; b: rgba(242, 85, 90, 0.12); c: @nosuch; d: x@y.z"));
        QCOMPARE(Theme::colour(Theme::Colour::Backdrop), Theme::kBackdrop);
        QCOMPARE(Theme::colour(Theme::Colour::Accent), Theme::kAccent);
        QCOMPARE(Theme::colour(Theme::Colour::Muted), Theme::kMuted);
        QCOMPARE(Theme::colour(Theme::Colour::Live), Theme::kLive);
        QCOMPARE(Theme::colour(Theme::Colour::White, 0.5).alpha(), 128);
        QSet<QString> names;
        for (const Theme::Token& t : Theme::tokens())
            names.insert(QString::fromLatin1(t.name));
        QCOMPARE(names.size(), Theme::kColourCount);
    }

    // Tests answer dialogs in advance; what was shown is listed in order.
    void modalSeamAnswersInsteadOfAPerson()
    {
        Modal::reset();
        Modal::answer(QMessageBox::Yes);
        QCOMPARE(Modal::ask(nullptr, QStringLiteral("Sign out"), QStringLiteral("Sign out now?")), QMessageBox::Yes);
        Modal::respond([](QDialog& d) {
            auto* box = qobject_cast<QMessageBox*>(&d);
            return box && box->text() == QLatin1String("Saved.") ? int(QMessageBox::Ok) : -1;
        });
        Modal::inform(nullptr, QStringLiteral("Report"), QStringLiteral("Saved."));
        Modal::chooseFile(QStringLiteral("/tmp/a.csv"));
        QCOMPARE(Modal::saveFileName(nullptr, QStringLiteral("Save report"), QString(), QString()),
                 QStringLiteral("/tmp/a.csv"));
        QCOMPARE(Modal::pending(), 0);
        QCOMPARE(Modal::shown(), (QStringList{"Sign out: Sign out now?", "Report: Saved.", "Save report"}));
    }

    void iconSheet()
    {
        const QList<int> sizes{9, 12, 16, 18, 20, 48};
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
        static const char* const names[] = {
            "Play",        "Pause",        "Stop",    "EnterFullscreen", "LeaveFullscreen", "Search",
            "ChevronLeft", "ChevronRight", "SoundOn", "SoundOff",        "Settings",        "Checked",
            "Snapshot",    "Close",        "Expand",  "SkipStart",       "SkipEnd"};
        for (int c = 0; c < cols; ++c)
            p.drawText(QRect(labelW + c * cell, 0, cell, 40), Qt::AlignCenter,
                       QString("%1 %2").arg(sizes[c % sizes.size()]).arg(c >= sizes.size() ? "acc" : "mut"));
        for (int k = 0; k < Theme::kIconKinds; ++k) {
            const int y = 40 + k * cell;
            p.drawText(QRect(8, y, labelW - 8, cell), Qt::AlignVCenter | Qt::AlignLeft,
                       QString("%1 %2").arg(k).arg(names[k]));
            for (int c = 0; c < cols; ++c) {
                const int s = sizes[c % sizes.size()];
                const QIcon icon = Theme::icon(Icon(k), c >= sizes.size() ? Theme::kAccent : Theme::kMuted, s);
                QCOMPARE(icon.availableSizes(), QList<QSize>{QSize(2 * s, 2 * s)});
                const QPixmap pm = icon.pixmap(QSize(s, s), 2.0);
                QCOMPARE(pm.size(), QSize(2 * s, 2 * s));
                QCOMPARE(pm.devicePixelRatio(), 2.0);
                const int painted = paintedPixels(pm.toImage());
                QVERIFY2(painted > 0 && painted < 4 * s * s, qPrintable(QString("kind %1 size %2").arg(k).arg(s)));
                p.drawPixmap(QPoint(labelW + c * cell + (cell - s) / 2, y + (cell - s) / 2), pm);
            }
        }
        p.end();
        keepShot(sheet, QStringLiteral("icons.png"));
        // The 48-pixel accent column of Play shows the accent colour at the
        // triangle's centroid.
        const int x = labelW + (cols - 1) * cell + (cell - 48) / 2;
        const QPoint centroid(int((x + 0.48 * 48) * 2), int((40 + (cell - 48) / 2 + 0.5 * 48) * 2));
        QCOMPARE(sheet.pixelColor(centroid), Theme::kAccent);

        // Unknown kinds paint nothing; sizes below 1 give no icon.
        for (int k : {17, 42, -1})
            QCOMPARE(paintedPixels(iconImage(Icon(k), Theme::kAccent, 20)), 0);
        QVERIFY(Theme::icon(Icon::Play, Theme::kAccent, 0).isNull());
        QVERIFY(Theme::icon(Icon::Play, Theme::kAccent, -5).isNull());
    }
};

KVR_TEST_MAIN(TestTheme)
#include "tst_theme.moc"

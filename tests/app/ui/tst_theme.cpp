#include "app/ui/Theme.h"
#include "tests/support/TestKit.h"

#include <QApplication>
#include <QCalendarWidget>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSet>
#include <QSpinBox>
#include <QTableWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

using namespace kvr::ui;

using Theme::Icon;

namespace {

QImage iconImage(Icon kind, const QColor& colour, int size)
{
    return Theme::icon(kind, colour, size).pixmap(QSize(size, size), 2.0).toImage();
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
    for (int id = 0; !QFontDatabase::applicationFontFamilies(id).isEmpty(); ++id)
        out << QFontDatabase::applicationFontFamilies(id).first();
    return out;
}

// Whether `shown` is `top` at opacity `a` over the opaque `under`, give or take rounding.
bool blends(const QColor& shown, const QColor& top, qreal a, const QColor& under)
{
    const auto close = [a](int s, int t, int u) { return qAbs(s - (t * a + u * (1 - a))) <= 3; };
    return close(shown.red(), top.red(), under.red()) && close(shown.green(), top.green(), under.green())
        && close(shown.blue(), top.blue(), under.blue());
}

// Saves a picture for a person to look at under build/screenshots/.
void keepShot(const QImage& img, const QString& name)
{
    QDir().mkpath(QStringLiteral(KVR_SCREENSHOT_DIR));
    QVERIFY(img.save(QStringLiteral(KVR_SCREENSHOT_DIR "/") + name));
}

// What the window shows at a point of one of its widgets (grabbing the whole
// window, so that translucent backgrounds lie over what is really behind
// them); by default the middle of the left side, clear of text and corners.
QColor shownAt(QWidget* window, QWidget* w, QPoint local = {})
{
    if (local.isNull())
        local = QPoint(10, w->height() / 2);
    return window->grab().toImage().pixelColor(w->mapTo(window, local));
}

template <typename W> W* named(QWidget* parent, const char* name, W* w)
{
    w->setObjectName(QString::fromLatin1(name));
    parent->layout()->addWidget(w);
    return w;
}

// Styles the window with a sheet, which must parse, and keeps its picture.
QImage styled(QWidget& root, const QString& sheet, QSize size, const QString& shot)
{
    kvrtest::LogCapture log;
    root.setStyleSheet(sheet);
    root.resize(size);
    root.ensurePolished();
    root.layout()->activate();
    const QImage img = root.grab().toImage();
    keepShot(img, shot);
    return log.contains(QStringLiteral("Could not parse")) ? QImage() : img;
}

} // namespace

class TestTheme : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Runs first, while the process has registered no fonts of its own.
    void fontsAndPicturesLoad()
    {
        kvrtest::LogCapture log;
        Theme::loadFonts();
        QCOMPARE(applicationFaces(), (QStringList{"Inter", "Inter", "Inter", "Poppins", "Poppins", "Poppins"}));
        // Each weight the sheets ask for resolves to its own face.
        const auto face = [](QFont::Weight w) { return QFontInfo(QFont("Poppins", -1, w)).styleName(); };
        QCOMPARE((QStringList{face(QFont::Normal), face(QFont::Medium), face(QFont::DemiBold)}),
                 (QStringList{"Regular", "Medium", "SemiBold"}));
        QCOMPARE(QFontDatabase::styles(QStringLiteral("Inter")), (QStringList{"Regular", "Medium", "Semi Bold"}));
        // Missing resources are skipped quietly.
        Q_CLEANUP_RESOURCE(kavira);
        QVERIFY(!QFile::exists(":/fonts/Inter-Regular.ttf"));
        Theme::loadFonts();
        Q_INIT_RESOURCE(kavira);
        QVERIFY2(log.messages().isEmpty(), qPrintable(log.messages().join('\n')));
        QCOMPARE(applicationFaces().size(), 6);
        // The program's own font, as it sets it at start.
        Theme::useProgramFont();
        QCOMPARE(QFontInfo(QApplication::font()).family(), QStringLiteral("Inter"));
        QCOMPARE(QApplication::font().pixelSize(), 14);
        // The pictures the windows show; the sign-in film is checked where it is played.
        for (const char* path : {":/brand/icon.png", ":/brand/mark.png", ":/brand/logo.png",
                                 ":/native/chevron-down.svg", ":/native/check.svg"})
            QVERIFY2(QString(path).endsWith(".svg") ? QFile(path).size() > 0 : !QImage(path).isNull(), path);
    }

    // Points (fractions of the side) that must carry ink or stay clear: each
    // kind's own shape and direction, not just "something was drawn".
    void iconsPaintTheirShapesAtEverySize()
    {
        using Points = QList<QPointF>;
        const QList<std::tuple<Icon, Points, Points>> probes{
            {Icon::Play, {{0.48, 0.5}, {0.33, 0.5}}, {{0.9, 0.5}, {0.4, 0.15}}},
            {Icon::Pause, {{0.36, 0.5}, {0.64, 0.5}}, {{0.5, 0.5}}},
            {Icon::Stop, {{0.5, 0.72}}, {{0.27, 0.27}, {0.2, 0.5}}},
            {Icon::Close, {{0.5, 0.5}}, {{0.5, 0.3}}},
            {Icon::Search, {{0.69, 0.69}, {0.2, 0.42}}, {{0.42, 0.42}}},
            {Icon::ChevronLeft, {{0.38, 0.5}}, {{0.62, 0.5}}},
            {Icon::ChevronRight, {{0.62, 0.5}}, {{0.38, 0.5}}},
            {Icon::Settings, {{0.65, 0.5}, {0.5, 0.12}}, {{0.5, 0.5}}},
            {Icon::EnterFullscreen, {{0.22, 0.22}}, {{0.5, 0.5}}},
            {Icon::LeaveFullscreen, {{0.4, 0.4}}, {{0.15, 0.15}}},
            {Icon::SoundOn, {{0.42, 0.5}, {0.84, 0.5}, {0.66, 0.5}}, {{0.74, 0.5}}},
            {Icon::SoundOff, {{0.42, 0.5}, {0.74, 0.5}}, {}}};
        for (const auto& [kind, ink, clear] : probes) {
            const QImage img = iconImage(kind, Theme::kLive, 20);
            for (const QPointF& p : ink + clear) {
                const QColor c = img.pixelColor(int(p.x() * img.width()), int(p.y() * img.height()));
                QVERIFY2(ink.contains(p) ? c == Theme::kLive : c.alpha() == 0,
                         qPrintable(QString("kind %1 at %2,%3").arg(int(kind)).arg(p.x()).arg(p.y())));
            }
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

        // Every kind at every size the screens use (and an odd one), muted and
        // accent, on the dark backdrop: a sheet for a person to look at. Every
        // icon is twice its logical size and paints something, never the whole
        // square.
        const QList<int> sizes{9, 12, 16, 18, 20, 48};
        const int cell = 64, labelW = 150, cols = int(sizes.size()) * 2;
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
            "Snapshot",    "Close",        "Expand",  "SkipStart",       "SkipEnd",         "Retry"};
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
                const QPixmap pm = icon.pixmap(QSize(s, s), 2.0);
                QVERIFY(icon.availableSizes() == QList<QSize>{QSize(2 * s, 2 * s)} && pm.devicePixelRatio() == 2.0);
                const int painted = paintedPixels(pm.toImage());
                QVERIFY2(painted > 0 && painted < 4 * s * s, qPrintable(QString("kind %1 size %2").arg(k).arg(s)));
                p.drawPixmap(QPoint(labelW + c * cell + (cell - s) / 2, y + (cell - s) / 2), pm);
            }
        }
        p.end();
        keepShot(sheet, QStringLiteral("icons.png"));

        // Unknown kinds paint nothing; sizes below 1 give no icon.
        for (int k : {Theme::kIconKinds, 42, -1})
            QCOMPARE(paintedPixels(iconImage(Icon(k), Theme::kAccent, 20)), 0);
        QVERIFY(Theme::icon(Icon::Play, Theme::kAccent, 0).isNull()
                && Theme::icon(Icon::Play, Theme::kAccent, -5).isNull());
    }

    void roundedScalesAndClipsCorners()
    {
        QPixmap picture(100, 50);
        picture.fill(QColor(10, 200, 30));
        const QImage img = Theme::rounded(picture, 20, 4).toImage().convertToFormat(QImage::Format_ARGB32);
        QVERIFY(img.size() == QSize(80, 40) && img.devicePixelRatio() == 2.0);
        for (const QPoint& corner : {QPoint(0, 0), QPoint(79, 0), QPoint(0, 39), QPoint(79, 39), QPoint(1, 1)})
            QCOMPARE(qAlpha(img.pixel(corner)), 0); // radius 8 device pixels, not 4
        QCOMPARE(img.pixelColor(40, 20), QColor(10, 200, 30));
        // Just inside the corner is drawn, and the straight edges stay whole.
        QVERIFY(qAlpha(img.pixel(4, 4)) > 200 && qAlpha(img.pixel(0, 20)) == 255 && qAlpha(img.pixel(40, 0)) == 255);

        // The source's own ratio is ignored: filled to the right and bottom edges.
        QPixmap hiDpi(200, 100);
        hiDpi.fill(Qt::white);
        hiDpi.setDevicePixelRatio(2.0);
        const QImage hi = Theme::rounded(hiDpi, 20, 4).toImage().convertToFormat(QImage::Format_ARGB32);
        QVERIFY(hi.size() == QSize(80, 40) && hi.pixelColor(75, 20) == Qt::white && hi.pixelColor(40, 36) == Qt::white);
        QVERIFY(Theme::rounded(QPixmap(), 20, 4).isNull() && Theme::rounded(hiDpi, 0, 4).isNull());
        QCOMPARE(Theme::rounded(hiDpi, 10, 0).size(), QSize(40, 20));
    }

    // The sheets on a few widgets whose look a rule decides; the windows'
    // own screenshots show the rest.
    void stylesParseAndStyleTheirNames()
    {
        QWidget login;
        login.setObjectName("LoginRoot");
        new QVBoxLayout(&login);
        auto* headline = named(&login, "BrandHeadline", new QLabel("Watch every site"));
        auto* label = named(&login, "LoginLabel", new QLabel("Username"));
        auto* signIn = named(&login, "LoginPrimary", new QPushButton("Sign in"));
        // A sheet that does not parse gives a null picture, which matches no colour.
        QCOMPARE(styled(login, Theme::loginStyle(), {480, 640}, "theme-login.png").pixelColor(2, 2), Theme::kBackdrop);
        const auto face = [](QWidget* w) { return w->font().family() + ' ' + QString::number(w->font().weight()); };
        QCOMPARE(face(headline) + ", " + face(label), QString("Poppins 600, Inter 500"));
        QCOMPARE(shownAt(&login, signIn), Theme::kAccent);
        signIn->setEnabled(false);
        QVERIFY(blends(shownAt(&login, signIn), Theme::kAccent, 0.35, Theme::kBackdrop));

        QWidget root;
        root.setObjectName("AppRoot");
        new QVBoxLayout(&root);
        auto* top = named(&root, "TopBar", new QWidget);
        new QHBoxLayout(top);
        auto* badge = named(top, "ModeBadge", new QLabel("LIVE"));
        badge->setProperty("mode", "live");
        auto* dot = named(top, "Dot", new QLabel);
        auto* onlineDot = named(top, "Dot", new QLabel);
        onlineDot->setProperty("state", "online");
        auto* primary = named(&root, "Primary", new QPushButton("Play"));
        auto* tile = named(&root, "Tile", new QFrame);
        tile->setProperty("selected", "true");
        tile->setMinimumHeight(120);
        named(&root, "", new QTableWidget(2, 2));
        named(&root, "", new QCalendarWidget);
        QCOMPARE(styled(root, Theme::appStyle(), {900, 1200}, "theme-app.png").pixelColor(1, 1198), Theme::kBackdrop);
        QCOMPARE(top->height(), 56);
        QCOMPARE(shownAt(&root, primary), Theme::kAccent);
        // Fixed sizes hold whatever the border: the idle dot with its ring is
        // as big as the filled ones.
        QVERIFY(dot->size() == QSize(8, 8) && onlineDot->size() == QSize(8, 8));
        // Mode and selection properties pick their own rules.
        QVERIFY(blends(shownAt(&root, badge, QPoint(badge->width() - 6, badge->height() / 2)), Theme::kLive, 0.16,
                       shownAt(&root, top, QPoint(2, 2))));
        const int mid = tile->height() / 2;
        QCOMPARE(tile->grab().toImage().pixelColor(0, mid), Theme::kAccent);
        QCOMPARE(tile->grab().toImage().pixelColor(tile->width() / 2, mid), Theme::kBackdrop);
        tile->setProperty("selected", "false");
        tile->style()->unpolish(tile);
        tile->style()->polish(tile);
        QVERIFY(tile->grab().toImage().pixelColor(0, mid) != Theme::kAccent);
    }

    // The standard widgets of the server windows take their whole look from
    // the sheet: the sheet's light text is never left on a light native
    // button, field or box, arrows and ticks are drawn, and a selected row
    // of a catalogue-style tree is tinted.
    void standardWidgetsAreReadable()
    {
        QWidget root;
        root.setObjectName("AppRoot");
        new QVBoxLayout(&root);
        root.setStyleSheet(Theme::appStyle());

        QMessageBox box(QMessageBox::Question, "Sign out", "Sign out and stop playback?", QMessageBox::NoButton, &root);
        QPushButton* signOut = box.addButton("Sign out", QMessageBox::AcceptRole);
        QPushButton* cancel = box.addButton("Cancel", QMessageBox::RejectRole);
        box.setDefaultButton(signOut);
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        keepShot(box.grab().toImage(), "theme-message-box.png");
        QCOMPARE(shownAt(&box, cancel, QPoint(4, cancel->height() / 2)), Theme::colour(Theme::Colour::Raised));
        QCOMPARE(shownAt(&box, signOut, QPoint(4, signOut->height() / 2)), Theme::kAccent);
        QCOMPARE(cancel->palette().color(QPalette::ButtonText), Theme::colour(Theme::Colour::Text));
        box.hide();
        // No button of the program carries the style's stock icons, those
        // of a box's standard buttons neither.
        QMessageBox notice(QMessageBox::Information, "Presets", "Saved.", QMessageBox::Ok | QMessageBox::Cancel, &root);
        QVERIFY(notice.button(QMessageBox::Ok)->icon().isNull() && notice.button(QMessageBox::Cancel)->icon().isNull());

        auto* spin = named(&root, "", new QSpinBox);
        spin->setValue(30);
        auto* combo = named(&root, "", new QComboBox);
        combo->addItems({"seconds", "minutes"});
        auto* tick = named(&root, "", new QCheckBox("Open in native mode every time the app starts"));
        tick->setChecked(true);
        auto* tree = named(&root, "CatalogTree", new QTreeWidget);
        tree->setHeaderHidden(true);
        auto* row = new QTreeWidgetItem(tree, {"Camera 1"});
        new QTreeWidgetItem(tree, {"Camera 2"});
        auto* device = new QTreeWidgetItem(tree, {"Gate recorder"});
        new QTreeWidgetItem(device, {"Camera 3"});
        auto* closed = new QTreeWidgetItem(tree, {"Yard recorder"});
        new QTreeWidgetItem(closed, {"Camera 4"});
        device->setExpanded(true);
        row->setSelected(true);
        tree->setMinimumHeight(200);
        // A list that scrolls sideways, with a bar like the vertical ones.
        auto* list = named(&root, "", new QListWidget);
        list->addItem(QString(80, QChar('w')));
        list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        list->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        auto* heading = named(&root, "CardTitle", new QLabel("Server"));
        root.resize(420, 560);
        root.show();
        QVERIFY(QTest::qWaitForWindowExposed(&root));
        const QImage shot = root.grab().toImage();
        keepShot(shot, "theme-standard-widgets.png");
        const auto at = [&](QWidget* w, QPoint p) { return shot.pixelColor(w->mapTo(&root, p)); };
        const auto anyNear = [&](QWidget* w, QRect area, const QColor& want) {
            for (int y = area.top(); y <= area.bottom(); ++y)
                for (int x = area.left(); x <= area.right(); ++x)
                    if (blends(at(w, QPoint(x, y)), want, 1.0, want))
                        return true;
            return false;
        };
        // The number on the dark field, and both arrows of the box.
        QCOMPARE(at(spin, QPoint(3, spin->height() / 2)), Theme::colour(Theme::Colour::Field));
        const QRect arrows(spin->width() - 18, 2, 16, spin->height() - 4);
        QVERIFY(anyNear(spin, arrows.adjusted(0, 0, 0, -arrows.height() / 2), Theme::kMuted));
        QVERIFY(anyNear(spin, arrows.adjusted(0, arrows.height() / 2, 0, 0), Theme::kMuted));
        QVERIFY(anyNear(combo, QRect(combo->width() - 22, 4, 20, combo->height() - 8), Theme::kMuted));
        // The ticked box shows its tick on the accent.
        const int box18 = tick->height() / 2;
        QVERIFY(anyNear(tick, QRect(2, box18 - 7, 14, 14), Theme::kAccent));
        QVERIFY(anyNear(tick, QRect(2, box18 - 7, 14, 14), Qt::white));
        // The selected row: accent at 16 % over the tree's ground.
        const QRect selected = tree->visualItemRect(row);
        const QPoint inRow = tree->viewport()->mapTo(tree, QPoint(selected.right() - 6, selected.center().y()));
        QVERIFY(blends(at(tree, inRow), Theme::kAccent, 0.16, Theme::kBackdrop));
        QCOMPARE(heading->font().weight(), QFont::DemiBold);
        // Rows with rows under them show whether they are open or closed.
        for (QTreeWidgetItem* parent : {device, closed}) {
            const QRect item = tree->visualItemRect(parent);
            const QPoint branch = tree->viewport()->mapTo(tree, QPoint(0, item.top()));
            QVERIFY(anyNear(tree, QRect(branch, QSize(tree->indentation(), item.height())), Theme::kMuted));
        }
        QCOMPARE(list->horizontalScrollBar()->height(), list->verticalScrollBar()->width());
        QCOMPARE(list->horizontalScrollBar()->height(), 10);

        // The server and sign-in icons are drawn in colours of the table.
        QSet<QString> known;
        for (const Theme::Token& t : Theme::tokens())
            known.insert(QColor::fromRgb(t.rgb).name());
        for (const char* path :
             {":/theme/check.svg", ":/theme/chevron-down.svg", ":/theme/chevron-right.svg", ":/theme/chevron-up.svg"}) {
            QFile file(QString::fromLatin1(path));
            QVERIFY2(file.open(QIODevice::ReadOnly), path);
            const QString svg = QString::fromUtf8(file.readAll());
            static const QRegularExpression kColour(QStringLiteral("#[0-9a-fA-F]{6}"));
            for (auto it = kColour.globalMatch(svg); it.hasNext();) {
                const QString c = it.next().captured().toLower();
                QVERIFY2(known.contains(c), qPrintable(QString("%1: %2").arg(path, c)));
            }
        }
    }

    // Sheets name colours; every name must be known and written out.
    void tokensWriteOutEverySheetColour()
    {
        QCOMPARE(Theme::expandTokens(QStringLiteral("a: @accent; b: @live/0.12; c: @nosuch; d: x@y.z")),
                 QStringLiteral("a: #3b82f6; b: rgba(242, 85, 90, 0.12); c: @nosuch; d: x@y.z"));
        QCOMPARE(Theme::colour(Theme::Colour::White, 0.5).alpha(), 128);
        QSet<QString> names;
        for (const Theme::Token& t : Theme::tokens())
            names.insert(QString::fromLatin1(t.name));
        QCOMPARE(names.size(), Theme::kColourCount);
    }
};

KVR_TEST_MAIN(TestTheme)

#include "tst_theme.moc"

// The native main window on a 1280 x 720 laptop screen, opened as the
// program opens it, with the data of a real organisation: recorders of 32
// channels, site, device and camera names of 60 characters, devices and
// cameras down, a live wall of 36 tiles that cannot play. The window, its
// dialogs and every control in them lie on the screen where a person can
// reach them (at most by scrolling a page that scrolls); the pictures go to
// build/screenshots/ for a person to look at.

#include "app/core/Settings.h"
#include "app/ui/Modal.h"
#include "app/ui/ScreenFit.h"
#include "app/ui/Theme.h"
#include "native/live/NativeLive.h"
#include "native/live/VmsPage.h"
#include "native/live/VmsTile.h"
#include "native/screens/FleetRules.h"
#include "native/screens/NativeStyle.h"
#include "native/screens/NativeWindow.h"
#include "native/services/NativeController.h"
#include "native/services/NativeStore.h"
#include "tests/fixtures/devices/FakeDevice.h"
#include "tests/native/services/NativeTestKit.h"
#include "tests/support/TestKit.h"
#include "video/VideoStage.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTabWidget>
#include <QTableView>

#include <algorithm>
#include <functional>

using namespace kvr::core;
using namespace kvr::ui;
using namespace kvr::video;
using namespace kvr::services;
using namespace kvr::screens;
using namespace kvr::live;

namespace {

// The size the program asks for the native window where the screen has room.
constexpr QSize kOpeningSize{1440, 860};

QString name(const QWidget* w)
{
    QString text = w->accessibleName();
    if (auto* b = qobject_cast<const QAbstractButton*>(w); b && text.isEmpty())
        text = b->text();
    return QStringLiteral("%1 \"%2\"").arg(QString::fromLatin1(w->metaObject()->className()), text);
}

// Parts of a control that the control stands for.
bool innerPart(const QWidget* w)
{
    for (const QWidget* p = w->parentWidget(); p && !p->isWindow(); p = p->parentWidget())
        if (qobject_cast<const QComboBox*>(p) || qobject_cast<const QAbstractSpinBox*>(p)
            || qobject_cast<const QScrollBar*>(p) || qobject_cast<const QLineEdit*>(p)
            || qobject_cast<const QAbstractItemView*>(p))
            return true;
    return false;
}

bool isControl(const QWidget* w)
{
    if (qobject_cast<const QScrollBar*>(w) || innerPart(w))
        return false;
    return qobject_cast<const QAbstractButton*>(w) || qobject_cast<const QComboBox*>(w)
        || qobject_cast<const QAbstractSpinBox*>(w) || qobject_cast<const QAbstractItemView*>(w)
        || (qobject_cast<const QLineEdit*>(w) && !static_cast<const QLineEdit*>(w)->isReadOnly())
        || (w->focusPolicy() & Qt::TabFocus) || w->cursor().shape() == Qt::PointingHandCursor;
}

// `r` as a scroll would bring it into `view` along `direction`: moved to the
// view's start when it lies beyond it, no longer than the view.
QRect scrolledInto(QRect r, const QRect& view, Qt::Orientation direction)
{
    if (direction == Qt::Vertical) {
        if (r.top() < view.top() || r.bottom() > view.bottom())
            r = QRect(r.left(), view.top(), r.width(), std::min(r.height(), view.height()));
    } else if (r.left() < view.left() || r.right() > view.right()) {
        r = QRect(view.left(), r.top(), std::min(r.width(), view.width()), r.height());
    }
    return r;
}

// Controls of `window` a person cannot reach: outside the screen's available
// area or the window, or cut off by something around them that does not
// scroll; and windows that do not lie inside the screen's available area.
// Columns of a table beyond its view count as cut off.
QStringList outOfReach(QWidget* window)
{
    QStringList faults;
    const QRect area = window->screen()->availableGeometry();
    if (!area.contains(window->frameGeometry()))
        faults << QStringLiteral("window %1 at %2,%3 %4x%5 is not inside the screen's area")
                      .arg(window->windowTitle())
                      .arg(window->frameGeometry().x())
                      .arg(window->frameGeometry().y())
                      .arg(window->frameGeometry().width())
                      .arg(window->frameGeometry().height());
    for (QWidget* w : window->findChildren<QWidget*>()) {
        if (w->window() != window || !w->isVisible() || !isControl(w))
            continue;
        QRect shown = w->rect();
        QPoint offset;
        QString cutBy;
        for (const QWidget* c = w; c != window; c = c->parentWidget()) {
            offset += c->pos();
            const QWidget* p = c->parentWidget();
            const QRect room = p->rect().translated(-offset);
            // A page that scrolls brings the control into view when scrolled:
            // what stands beyond its view is not cut off.
            if (auto* scroll = qobject_cast<const QAbstractScrollArea*>(p->parentWidget());
                scroll && scroll->viewport() == p) {
                if (scroll->verticalScrollBarPolicy() != Qt::ScrollBarAlwaysOff)
                    shown = scrolledInto(shown, room, Qt::Vertical);
                if (scroll->horizontalScrollBarPolicy() != Qt::ScrollBarAlwaysOff)
                    shown = scrolledInto(shown, room, Qt::Horizontal);
            }
            if (!room.contains(shown) && cutBy.isEmpty())
                cutBy = name(p);
            shown &= room;
        }
        if (!cutBy.isEmpty())
            faults << QStringLiteral("%1 is cut off by %2").arg(name(w), cutBy);
        else if (!area.contains(shown.translated(w->mapToGlobal(QPoint(0, 0)))))
            faults << QStringLiteral("%1 lies off the screen").arg(name(w));
        if (auto* table = qobject_cast<QTableView*>(w); table
            && table->horizontalHeader()->length() > table->viewport()->width()
            && table->horizontalScrollBarPolicy() == Qt::ScrollBarAlwaysOff)
            faults << QStringLiteral("%1 has columns beyond its view").arg(name(w));
    }
    return faults;
}

bool shoot(QWidget& w, const QString& picture)
{
    QTest::qWait(200);
    const QString dir = QStringLiteral(KVR_SCREENSHOT_DIR);
    QDir().mkpath(dir);
    return w.grab().save(dir + QStringLiteral("/small-screen-") + picture + QStringLiteral(".png"));
}

QAbstractButton* shownButton(QWidget* root, const QString& text)
{
    for (QAbstractButton* b : root->findChildren<QAbstractButton*>())
        if (b->isVisible() && (b->text() == text || b->accessibleName() == text))
            return b;
    return nullptr;
}

QStringList keys(const QString& id, int from, int to)
{
    QStringList out;
    for (int c = from; c <= to; ++c)
        out << QStringLiteral("%1#%2").arg(id).arg(c);
    return out;
}

} // namespace

class TestNativeSmallScreen : public QObject {
    Q_OBJECT

    QStringList m_ids;
    QStringList m_faults;

    // The native window as the program opens it, its live page attached.
    std::unique_ptr<NativeWindow> open()
    {
        auto native = std::make_unique<NativeWindow>();
        NativeLive::attach(*native);
        ScreenFit::showWithin(native.get(), kOpeningSize);
        if (!QTest::qWaitForWindowExposed(native.get()))
            return nullptr;
        return native;
    }

    void look(QWidget& window, const QString& picture)
    {
        QVERIFY(shoot(window, picture));
        for (const QString& f : outOfReach(&window))
            m_faults << picture + QStringLiteral(": ") + f;
    }

    // The next dialog is looked at, `more` done with it, and closed.
    void lookAtNext(const QString& picture, std::function<void(QDialog&)> more = {})
    {
        Modal::respond([this, picture, more](QDialog& d) {
            d.show();
            if (QTest::qWaitForWindowExposed(&d)) {
                look(d, picture);
                if (more)
                    more(d);
            } else {
                m_faults << picture + QStringLiteral(": never shown");
            }
            d.hide();
            return int(QDialog::Rejected);
        });
    }

private Q_SLOTS:
    void initTestCase()
    {
        Theme::useProgramFont();
        Prefs::set(Prefs::kRenderMode, QStringLiteral("cpu"));
        NativeController::setPollEnabled(false);
        // The laptop's screen whole, or as its desktop leaves it (a panel,
        // and a scale: tst_native_small_screen_scaled).
        if (!qEnvironmentVariableIsSet("KVR_DISPLAY_PANEL"))
            QCOMPARE(QGuiApplication::primaryScreen()->availableGeometry(), QRect(0, 0, 1280, 720));
        // The pointer rests off every window, so no tile shows its controls by chance.
        QCursor::setPos(QGuiApplication::primaryScreen()->geometry().bottomRight());

        // Every device at a loopback port where nothing listens: checks and
        // pictures fail, as on a network whose recorders are off.
        NativeStore& store = NativeStore::instance();
        const quint16 closed = kvrtest::closedPort();
        const QStringList siteNames{
            QStringLiteral("Riverside Logistics Park, Warehouse 7 and the North Gatehouse"),
            QStringLiteral("Head Office · Andheri East Corporate Park, Tower B"),
            QStringLiteral("Bhiwandi Distribution Centre Warehouse 4"),
            QStringLiteral("Pune Retail Flagship Store"),
        };
        QStringList siteIds;
        for (const QString& site : siteNames) {
            Native::Site s;
            s.name = site;
            s.isp = QStringLiteral("FiberNet Business 200 Mbps");
            s.contact = QStringLiteral("Asha Rao, +91 98200 12345");
            siteIds << store.addSite(s);
        }
        for (int i = 0; i < 24; ++i) {
            Native::Device d;
            d.name = i == 0 ? QStringLiteral("Reception and lobby recorder, main building, 32 channel NVR")
                            : QStringLiteral("Recorder %1 of the loading bays and yard").arg(i + 1);
            d.siteId = siteIds.at(i % siteIds.size());
            d.ip = QStringLiteral("127.0.0.1");
            d.httpPort = closed;
            d.rtspPort = closed;
            d.username = QStringLiteral("admin");
            d.password = QStringLiteral("s3cret");
            d.manufacturer = i % 2 ? QStringLiteral("DAHUA") : QStringLiteral("HIKVISION");
            d.type = QStringLiteral("nvr");
            d.channels = i < 3 ? 32 : 16;
            const QString id = store.addDevice(d);
            QVERIFY(!id.isEmpty());
            m_ids << id;
            store.applyProbe(id, nativetest::checkedRecorder(i % 5 != 2, 12 + i, i % 7 == 4, d.channels, [](int c) {
                                 return c % 6 != 3;
                             }));
        }
        QList<Native::Camera> cams = store.device(m_ids.first())->cameras;
        cams[0].name = QStringLiteral("Main entrance turnstiles, facing the street and the taxi stand");
        store.saveCameras(m_ids.first(), cams);
        Modal::setStrict(true);
    }

    void cleanup()
    {
        for (const QString& f : std::as_const(m_faults))
            qWarning().noquote() << "OUT OF REACH" << f;
        const qsizetype count = m_faults.size();
        m_faults.clear();
        QVERIFY2(count == 0, qPrintable(QStringLiteral("%1 faults, listed above").arg(count)));
    }

    // The fleet page and every dialog it opens, the device's own included.
    void fleetPageAndItsDialogs()
    {
        auto native = open();
        QVERIFY(native);
        QTest::qWait(300);
        look(*native, QStringLiteral("fleet"));

        lookAtNext(QStringLiteral("device-details"), [this](QDialog& d) {
            auto* tabs = d.findChild<QTabWidget*>();
            for (int t = 1; tabs && t < tabs->count(); ++t) {
                tabs->setCurrentIndex(t);
                look(d, QStringLiteral("device-details-tab%1").arg(t));
            }
            if (tabs)
                tabs->setCurrentIndex(0);
            for (const char* button : {"Get snapshots", "Recording calendar", "Test live"}) {
                QAbstractButton* b = shownButton(&d, QString::fromLatin1(button));
                if (!b) {
                    m_faults << QStringLiteral("device-details: no \"%1\"").arg(QLatin1String(button));
                    continue;
                }
                lookAtNext(QStringLiteral("device-") + QString::fromLatin1(button).toLower().replace(' ', '-'));
                b->click();
                QTRY_COMPARE_WITH_TIMEOUT(Modal::pending(), 0, 10000);
            }
        });
        native->openDetails(m_ids.first());
        QTRY_COMPARE(Modal::pending(), 0);
        lookAtNext(QStringLiteral("add-device"));
        native->addDevice();
        lookAtNext(QStringLiteral("add-site"));
        native->addSite();
        lookAtNext(QStringLiteral("settings"));
        native->openSettings();
        lookAtNext(QStringLiteral("report"));
        native->openReports(m_ids.first());
        lookAtNext(QStringLiteral("events"));
        native->openEvents();
        QTRY_COMPARE(Modal::pending(), 0);
        native->hide();
    }

    // A person widens the fleet table's columns past the page: a bar at the
    // foot of the page, where the rows show, scrolls it sideways to the
    // rows' "View details" (the table's own bar is 24 rows down), and gives
    // way to the table's own once the page is scrolled to it. At the next
    // start the columns come back as wide as they were, at most as wide as
    // any of them has something to show.
    void widenedColumnsKeepTheActionInReach()
    {
        auto native = open();
        QVERIFY(native);
        QTableView* table = native->table();
        QHeaderView* header = table->horizontalHeader();
        QTRY_VERIFY(table->isVisible() && table->model()->rowCount() == 24);
        QScrollArea* page = nullptr;
        for (QWidget* w = table; w && !page; w = w->parentWidget())
            page = qobject_cast<QScrollArea*>(w);
        QVERIFY(page);
        page->verticalScrollBar()->setValue(0);
        using namespace FleetRules;
        for (int c : {ColUptime, ColLastCheck, ColNetwork})
            header->resizeSection(c, 900);
        QTRY_COMPARE(table->horizontalScrollBar()->maximum(), header->length() - table->viewport()->width());
        QScrollBar* inSight = nullptr;
        QTRY_VERIFY((inSight = page->viewport()->findChild<QScrollBar*>(QStringLiteral("kvrBarInSight")))
                    && inSight->isVisible());
        const QRect port = page->viewport()->rect();
        QVERIFY(port.contains(inSight->geometry()));
        const QRect action = table->visualRect(table->model()->index(0, ColAction));
        QVERIFY(!table->viewport()->rect().contains(action));
        inSight->setValue(inSight->maximum());
        QCOMPARE(table->horizontalScrollBar()->value(), table->horizontalScrollBar()->maximum());
        QVERIFY(table->viewport()->rect().contains(table->visualRect(table->model()->index(0, ColAction))));
        look(*native, QStringLiteral("fleet-columns-widened"));
        page->verticalScrollBar()->setValue(page->verticalScrollBar()->maximum());
        QTRY_VERIFY(!inSight->isVisible());
        QTRY_COMPARE(Prefs::get(Prefs::kNativeTableColumns).value(ColUptime - 1), QStringLiteral("900"));
        native.reset();

        auto again = open();
        QVERIFY(again);
        QCOMPARE(again->table()->horizontalHeader()->sectionSize(ColUptime), 480);
        again->table()->horizontalHeader()->resizeSection(ColUptime, 160);
        again->table()->horizontalHeader()->resizeSection(ColLastCheck, 110);
        again->table()->horizontalHeader()->resizeSection(ColNetwork, 132);
        QTRY_COMPARE(Prefs::get(Prefs::kNativeTableColumns).value(ColUptime - 1), QStringLiteral("160"));
    }

    // Thirty-six cameras on "6×6", every one failing: the toolbar's
    // controls, the pager and a tile's own controls (shown while the
    // pointer is over it) all on the screen.
    void liveWallOfThirtySix()
    {
        Prefs::set(Prefs::kNativeVmsWall, keys(m_ids.at(0), 1, 32) + keys(m_ids.at(2), 1, 8));
        Prefs::set(Prefs::kNativeVmsLayout, 5);
        auto native = open();
        QVERIFY(native);
        native->setPage(1);
        QTRY_VERIFY_WITH_TIMEOUT(native->findChildren<VmsTile*>().size() == 36, 10000);
        const auto settled = [&native] {
            const QList<VmsTile*> tiles = native->findChildren<VmsTile*>();
            return std::all_of(tiles.cbegin(), tiles.cend(), [](VmsTile* t) { return t->isFailed(); });
        };
        QTRY_VERIFY_WITH_TIMEOUT(settled(), 30000);
        look(*native, QStringLiteral("live-wall-36"));
        // The last tile, at the bottom right, with the pointer over it.
        VmsTile* last = native->findChildren<VmsTile*>().last();
        for (VmsTile* t : native->findChildren<VmsTile*>())
            if (t->mapTo(native.get(), QPoint(t->width(), t->height())).manhattanLength()
                > last->mapTo(native.get(), QPoint(last->width(), last->height())).manhattanLength())
                last = t;
        QTest::mouseMove(last, last->rect().center());
        QTRY_VERIFY(last->focusButton()->isVisible());
        // Failed and too small for both: "Try again" shows, the stream
        // switch it would cover does not.
        QVERIFY(last->retryButton()->isVisible());
        QVERIFY(!last->streamSwitch()->isVisible()
                || !last->streamSwitch()->geometry().intersects(last->retryButton()->geometry()));
        look(*native, QStringLiteral("live-wall-36-pointer"));
        QTest::mouseMove(native.get(), QPoint(4, 4)); // off the tiles for the next pictures
        native->hide();
    }

    // Four cameras on "4×4": the top row of the grid's cells, each a
    // sixteenth of the wall.
    void fourCamerasOnFourByFour()
    {
        Prefs::set(Prefs::kNativeVmsWall, keys(m_ids.at(1), 1, 4));
        Prefs::set(Prefs::kNativeVmsLayout, 4);
        auto native = open();
        QVERIFY(native);
        native->setPage(1);
        QTRY_VERIFY_WITH_TIMEOUT(native->findChildren<VmsTile*>().size() == 4, 10000);
        look(*native, QStringLiteral("live-wall-4-of-16"));
        for (VmsTile* t : native->findChildren<VmsTile*>())
            QVERIFY2(t->height() < t->width(), qPrintable(QStringLiteral("%1x%2").arg(t->width()).arg(t->height())));
        native->hide();
    }

    // Playback of sixteen cameras before a time is picked: each tile says
    // so in one line that fits it whole.
    void playbackOfSixteen()
    {
        Prefs::set(Prefs::kNativeVmsWall, keys(m_ids.at(0), 1, 16));
        Prefs::set(Prefs::kNativeVmsLayout, 4);
        auto native = open();
        QVERIFY(native);
        native->setPage(1);
        QTRY_VERIFY_WITH_TIMEOUT(native->findChildren<VmsTile*>().size() == 16, 10000);
        QAbstractButton* playback = shownButton(native.get(), QStringLiteral("Playback"));
        QVERIFY(playback);
        playback->click();
        auto* page = native->findChild<VmsPage*>();
        QTRY_VERIFY(page->isPlayback() && page->tiles().size() == 16);
        QTest::qWait(100);
        look(*native, QStringLiteral("playback-16"));
        for (VmsTile* t : page->tiles()) {
            const QList<VideoStage::MessageLine> lines = t->stage()->messageLines();
            QVERIFY2(lines.size() == 1 && !t->stage()->messageShortened(),
                     qPrintable(QStringLiteral("%1 lines on a tile of %2x%3, shortened: %4")
                                    .arg(lines.size())
                                    .arg(t->width())
                                    .arg(t->height())
                                    .arg(t->stage()->messageShortened())));
        }
        native->hide();
    }

    // Playback of 36 cameras before a time is picked, in tiles of about 150
    // x 47 (also at scales of 1.5 and 2: tst_native_small_screen_scaled):
    // each tile's stage lies whole inside the tile, and what it says fits
    // whole or gives way to its mark, which is named with the words.
    void playbackOfThirtySix()
    {
        Prefs::set(Prefs::kNativeVmsWall, keys(m_ids.at(0), 1, 32) + keys(m_ids.at(2), 1, 4));
        Prefs::set(Prefs::kNativeVmsLayout, 5);
        auto native = open();
        QVERIFY(native);
        native->setPage(1);
        QTRY_VERIFY_WITH_TIMEOUT(native->findChildren<VmsTile*>().size() == 36, 10000);
        QAbstractButton* playback = shownButton(native.get(), QStringLiteral("Playback"));
        QVERIFY(playback);
        playback->click();
        auto* page = native->findChild<VmsPage*>();
        QTRY_VERIFY(page->isPlayback() && page->tiles().size() == 36);
        QTest::qWait(100);
        // At a scale of 1.5 or 2 the page as a whole has less room than its
        // bars ask for: here only its tiles are looked at.
        if (qEnvironmentVariableIsSet("KVR_DISPLAY_PANEL"))
            QVERIFY(shoot(*native, QStringLiteral("playback-36-scale-") + qEnvironmentVariable("QT_SCALE_FACTOR")));
        else
            look(*native, QStringLiteral("playback-36"));
        for (VmsTile* t : page->tiles()) {
            VideoStage* stage = t->stage();
            const QString where = QStringLiteral("tile %1x%2, stage %3x%4")
                                      .arg(t->width())
                                      .arg(t->height())
                                      .arg(stage->width())
                                      .arg(stage->height());
            QVERIFY2(stage->geometry().isEmpty() || t->rect().contains(stage->geometry()),
                     qPrintable(where + QStringLiteral(": the stage runs out")));
            const QList<VideoStage::MessageLine> lines = stage->messageLines();
            if (!lines.isEmpty()) {
                QVERIFY2(!stage->messageShortened(), qPrintable(where));
                for (const VideoStage::MessageLine& line : lines)
                    QVERIFY2(stage->rect().contains(line.rect), qPrintable(where + QStringLiteral(": ") + line.text));
            } else {
                // The mark where the stage has room for it, else the badge's
                // dot, each named with the words.
                QCOMPARE(stage->accessibleDescription(), QStringLiteral("Pick a time"));
                QVERIFY2(t->toolTip().startsWith(QStringLiteral("Pick a time")), qPrintable(where + t->toolTip()));
                const auto* dot = t->findChild<NativeStyle::DiscDot*>();
                QVERIFY2((!stage->markRect().isEmpty() && stage->rect().contains(stage->markRect()))
                             || (dot && dot->isVisible() && dot->accessibleDescription() == "Pick a time"),
                         qPrintable(where + QStringLiteral(": neither the words nor their mark")));
            }
        }
        native->hide();
    }
};

KVR_TEST_MAIN(TestNativeSmallScreen)

#include "tst_native_small_screen.moc"

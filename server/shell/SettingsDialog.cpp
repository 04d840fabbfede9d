#include "server/shell/SettingsDialog.h"

#include "app/context/AppContext.h"
#include "app/core/Log.h"
#include "app/core/Settings.h"
#include "app/ui/EnterButton.h"
#include "app/ui/Modal.h"
#include "app/ui/ScreenFit.h"
#include "app/ui/Theme.h"
#include "video/DecodeSettings.h"

#include <QButtonGroup>
#include <QClipboard>
#include <QDesktopServices>
#include <QDir>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QShowEvent>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>

using namespace kvr::core;
using namespace kvr::ui;
using namespace kvr::context;

namespace kvr::shell {

namespace {

QWidget* cardRow(const QString& title, const QString& hint, QWidget* control, QWidget* parent)
{
    auto* row = new QWidget(parent);
    auto* h = new QHBoxLayout(row);
    h->setContentsMargins(0, 8, 0, 8);
    auto* block = new QVBoxLayout();
    block->setSpacing(2);
    auto* t = new QLabel(title, row);
    t->setObjectName(QStringLiteral("CardTitle"));
    block->addWidget(t);
    auto* hintLabel = new QLabel(hint, row);
    hintLabel->setObjectName(QStringLiteral("Muted"));
    hintLabel->setWordWrap(true);
    block->addWidget(hintLabel);
    h->addLayout(block, 1);
    h->addSpacing(16);
    control->setParent(row);
    control->setAccessibleName(title);
    h->addWidget(control, 0, Qt::AlignVCenter);
    return row;
}

SettingsDialog::FolderOpener& folderOpener()
{
    static SettingsDialog::FolderOpener opener;
    return opener;
}

QFrame* divider(QWidget* parent)
{
    auto* line = new QFrame(parent);
    line->setFixedHeight(1);
    line->setStyleSheet(QStringLiteral("background: %1;").arg(Theme::colour(Theme::Colour::Line).name()));
    return line;
}

} // namespace

QSize SettingsDialog::sizeHint() const
{
    const int w = qMax(minimumWidth(), QDialog::sizeHint().width());
    return {w, layout() ? layout()->heightForWidth(w) : QDialog::sizeHint().height()};
}

void SettingsDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    // A window opens at no more than two thirds of the screen's height,
    // which on a small screen squeezes the hints under each setting.
    if (!m_sizedOnce) {
        m_sizedOnce = true;
        resize(sizeHint());
    }
}

int SettingsDialog::renderModeIndex(const QString& mode)
{
    if (mode == QLatin1String("gpu"))
        return 1;
    if (mode == QLatin1String("cpu"))
        return 2;
    return 0;
}

QFrame* SettingsDialog::segmented(const QStringList& labels, int checked, std::function<void(int)> pick)
{
    auto* wrap = new QFrame(this);
    wrap->setObjectName(QStringLiteral("SegWrap"));
    auto* h = new QHBoxLayout(wrap);
    h->setContentsMargins(3, 3, 3, 3);
    h->setSpacing(2);
    auto* group = new QButtonGroup(this);
    group->setExclusive(true);
    for (int i = 0; i < labels.size(); ++i) {
        auto* b = new QPushButton(labels.at(i), wrap);
        b->setObjectName(QStringLiteral("Seg"));
        b->setCheckable(true);
        b->setCursor(Qt::PointingHandCursor);
        b->setChecked(i == checked);
        group->addButton(b, i);
        h->addWidget(b);
        connect(b, &QPushButton::clicked, this, [pick, i] { pick(i); });
    }
    m_groups.append(group);
    return wrap;
}

SettingsDialog::SettingsDialog(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Settings"));
    setModal(true);
    setMinimumWidth(520);
    setStyleSheet(Theme::appStyle());
    const AppContext& ctx = AppContext::instance();

    auto* v = new QVBoxLayout(this);
    v->setContentsMargins(28, 24, 28, 22);
    v->setSpacing(10);
    auto* title = new QLabel(QStringLiteral("Settings"), this);
    title->setObjectName(QStringLiteral("ScreenTitle"));
    v->addWidget(title);
    v->addSpacing(6);
    auto* section = new QLabel(QStringLiteral("STREAM QUALITY"), this);
    section->setObjectName(QStringLiteral("SiteName"));
    v->addWidget(section);

    auto* card = new QFrame(this);
    card->setObjectName(QStringLiteral("Card"));
    auto* c = new QVBoxLayout(card);
    c->setContentsMargins(18, 8, 18, 8);
    c->setSpacing(0);
    c->addWidget(cardRow(QStringLiteral("Live view"),
                         QStringLiteral("Stream used when you open a single camera. Main is the full-quality stream."),
                         segmented({QStringLiteral("Main"), QStringLiteral("Sub")}, ctx.liveMain() ? 0 : 1,
                                   [this](int i) { said(Prefs::set(Prefs::kLiveMain, i == 0)); }),
                         card));
    c->addWidget(divider(card));
    c->addWidget(cardRow(
        QStringLiteral("Camera wall"),
        QStringLiteral("Stream used for each tile. Auto uses the lighter Sub stream when a page shows more than four "
                       "cameras, and Main for four or fewer."),
        segmented({QStringLiteral("Auto"), QStringLiteral("Main"), QStringLiteral("Sub")}, ctx.gridQuality(),
                  [this](int i) { said(Prefs::set(Prefs::kGridQuality, i)); }),
        card));
    c->addWidget(divider(card));
    c->addWidget(cardRow(QStringLiteral("Hardware video decoding"),
                         QStringLiteral("Uses the graphics chip to decode video, which takes much less processor time "
                                        "and keeps the computer responsive. Turn it off only if pictures look wrong."),
                         segmented({QStringLiteral("On"), QStringLiteral("Off")},
                                   kvr::video::DecodeSettings::hardwareDecodeAllowed() ? 0 : 1,
                                   [this](int i) { said(Prefs::set(Prefs::kHardwareDecode, i == 0)); }),
                         card));
    c->addWidget(divider(card));
    c->addWidget(cardRow(
        QStringLiteral("Video drawing"),
        QStringLiteral("Auto draws pictures with the graphics chip when the computer has a usable one, and with the "
                       "processor otherwise. Change it only if video looks wrong."),
        segmented({QStringLiteral("Auto"), QStringLiteral("Graphics"), QStringLiteral("Processor")},
                  renderModeIndex(ctx.renderMode()),
                  [this](int i) {
                      static const char* const modes[] = {"auto", "gpu", "cpu"};
                      said(Prefs::set(Prefs::kRenderMode, QString::fromLatin1(modes[i])));
                  }),
        card));
    v->addWidget(card);
    // A choice the settings file could not keep is said here, under the
    // choices, until one is kept again (with it every choice held so far).
    m_notKept = new QLabel(this);
    m_notKept->setObjectName(QStringLiteral("Muted"));
    m_notKept->setStyleSheet(QStringLiteral("color: %1;").arg(Theme::colour(Theme::Colour::Warning).name()));
    m_notKept->setWordWrap(true);
    m_notKept->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_notKept->hide();
    v->addWidget(m_notKept);

    v->addSpacing(6);
    m_logFolder = new QPushButton(QStringLiteral("Open log folder"), this);
    m_logFolder->setObjectName(QStringLiteral("Secondary"));
    m_logFolder->setCursor(Qt::PointingHandCursor);
    m_logFolder->setToolTip(
        QStringLiteral("Where the app writes its diagnostic log (send it when reporting a problem)"));
    v->addWidget(m_logFolder, 0, Qt::AlignLeft);
    m_logNote = new QWidget(this);
    auto* noteRow = new QHBoxLayout(m_logNote);
    noteRow->setContentsMargins(0, 0, 0, 0);
    m_logNoteText = new QLabel(m_logNote);
    m_logNoteText->setObjectName(QStringLiteral("Muted"));
    m_logNoteText->setWordWrap(true);
    m_logNoteText->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    noteRow->addWidget(m_logNoteText, 1);
    auto* copyPath = new QPushButton(QStringLiteral("Copy path"), m_logNote);
    copyPath->setObjectName(QStringLiteral("Secondary"));
    copyPath->setCursor(Qt::PointingHandCursor);
    noteRow->addWidget(copyPath, 0, Qt::AlignTop);
    m_logNote->hide();
    v->addWidget(m_logNote);
    connect(copyPath, &QPushButton::clicked, this,
            [] { QGuiApplication::clipboard()->setText(QDir::toNativeSeparators(Log::directory())); });
    auto* note = new QLabel(QStringLiteral("Changes apply the next time you start playing."), this);
    note->setObjectName(QStringLiteral("Muted"));
    v->addWidget(note);
    v->addSpacing(8);
    auto* bottom = new QHBoxLayout();
    bottom->addStretch();
    auto* done = new QPushButton(QStringLiteral("Done"), this);
    done->setObjectName(QStringLiteral("Primary"));
    done->setDefault(true);
    done->setCursor(Qt::PointingHandCursor);
    bottom->addWidget(done);
    v->addLayout(bottom);

    connect(m_logFolder, &QPushButton::clicked, this, &SettingsDialog::openLogFolder, Qt::QueuedConnection);
    connect(done, &QPushButton::clicked, this, &QDialog::accept);
    // Enter is Done wherever the focus stands, a choice's button included
    // (which would otherwise take Enter for itself and leave the dialog open).
    setEnterButton(this, done);
}

void SettingsDialog::said(bool kept)
{
    m_notKept->setText(kept ? QString() : Prefs::notKeptText());
    m_notKept->setVisible(!kept);
    if (!kept)
        growToFit();
}

void SettingsDialog::growToFit()
{
    // Taller by a note, its wrapped hints as tall as they need: a window's
    // least size leaves out the height of wrapped texts.
    if (QLayout* l = layout()) {
        l->activate();
        const QSize wanted(width(), std::max(height(), l->heightForWidth(width())));
        resize(ScreenFit::bounded(this, wanted));
    }
}

void SettingsDialog::setFolderOpener(FolderOpener opener)
{
    folderOpener() = std::move(opener);
}

SettingsDialog::FolderOpen SettingsDialog::openWithDesktop(const QUrl& url)
{
    if (!QDesktopServices::openUrl(url))
        return FolderOpen::Failed;
#if defined(Q_OS_MACOS) || defined(Q_OS_WIN)
    // The system's own opener answers once the folder is open.
    return FolderOpen::Opened;
#else
    // Success here means that the desktop's opener program started; where no
    // file browser is set up it then opens nothing.
    return FolderOpen::Started;
#endif
}

void SettingsDialog::openLogFolder()
{
    const QString folder = Log::directory();
    const QUrl url = QUrl::fromLocalFile(folder);
    const FolderOpen outcome = folderOpener() ? folderOpener()(url) : openWithDesktop(url);
    const QString path = QDir::toNativeSeparators(folder);
    if (outcome == FolderOpen::Started) {
        // Whether a window opened is not known here: say where the folder is
        // beside the button, without standing in front of a window that did.
        m_logNoteText->setText(QStringLiteral("If no window opened, the log folder is at:\n%1").arg(path));
        m_logNote->show();
        growToFit();
        return;
    }
    m_logNote->hide();
    if (outcome == FolderOpen::Opened)
        return;
    // Nothing on this computer opens folders: the person still learns where
    // the log is, and can take the path along.
    QMessageBox box(QMessageBox::Information, QStringLiteral("Log folder"),
                    QStringLiteral("Nothing on this computer could open the log folder. It is at:\n%1").arg(path),
                    QMessageBox::NoButton, this);
    box.setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    QPushButton* copy = box.addButton(QStringLiteral("Copy path"), QMessageBox::ActionRole);
    QPushButton* close = box.addButton(QStringLiteral("Close"), QMessageBox::RejectRole);
    box.setDefaultButton(copy);
    box.setEscapeButton(close);
    const int result = Modal::exec(box);
    // A test's answer names the button by its role; a person's click is seen
    // through clickedButton().
    if (box.clickedButton() == copy || result == QMessageBox::ActionRole)
        QGuiApplication::clipboard()->setText(path);
}

} // namespace kvr::shell

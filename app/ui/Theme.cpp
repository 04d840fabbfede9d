#include "app/ui/Theme.h"

#include <QApplication>
#include <QFile>
#include <QFontDatabase>
#include <QPainter>
#include <QPainterPath>

namespace kvr::ui {

namespace Theme {

void loadFonts()
{
    // Order matters only for the database's ids; families come out the same.
    static const char* const kFaces[] = {
        ":/fonts/Inter-Regular.ttf",   ":/fonts/Inter-Medium.ttf",   ":/fonts/Inter-SemiBold.ttf",
        ":/fonts/Poppins-Regular.ttf", ":/fonts/Poppins-Medium.ttf", ":/fonts/Poppins-SemiBold.ttf",
    };
    for (const char* face : kFaces) {
        const QString path = QString::fromLatin1(face);
        // A build without the resources keeps the platform's fonts, quietly.
        if (!QFile::exists(path))
            continue;
        QFontDatabase::addApplicationFont(path);
    }
}

void useProgramFont()
{
    loadFonts();
    QFont font(QStringLiteral("Inter"));
    font.setPixelSize(14);
    QApplication::setFont(font);
}

// Colours in the sheets name a token: "@accent" is written out as "#3b82f6",
// "@accent/0.16" as "rgba(59, 130, 246, 0.16)", which Qt reads as that share
// of 255. Heights and widths in a sheet size the
// contents box, so a fixed size with a border gives the contents the border's
// share less: the top bar is 56 tall with its bottom line, and the idle dot
// is 8 wide with its ring (Qt rounds the 1.5 px ring to 2).

namespace {

// The menus of both sheets (a text field's own menu opens from the field, and
// takes its window's sheet): dark like the fields, every item readable, the
// one under the pointer and those unavailable included (drawn flat: an etched
// shadow under their words would blur them). Square corners: a menu's window
// has no see-through corners to round.
const QString kMenuRules = QStringLiteral(R"CSS(
QMenu { background: @raised; color: @text; border: 1px solid @border; padding: 4px; etch-disabled-text: 0; }
QMenu::item { background: transparent; color: @text; padding: 6px 20px 6px 12px; border-radius: 6px; }
QMenu::item:selected { background: @accent/0.35; color: @white; }
QMenu::item:disabled { color: @muted; background: transparent; }
QMenu::separator { height: 1px; background: @border; margin: 4px 6px; }
)CSS");

} // namespace

QString loginStyle()
{
    return expandTokens(kMenuRules + QStringLiteral(R"CSS(
QWidget#LoginRoot, QWidget#LoginRight { background: @backdrop; }
QWidget { font-family: "Inter"; color: @text; }
QLabel { background: transparent; }
QDialogButtonBox { dialogbuttonbox-buttons-have-icons: 0; }
QLabel#BrandWordmark { font-family: "Poppins"; font-size: 20px; font-weight: 600; color: @white; }
QLabel#BrandHeadline { font-family: "Poppins"; font-size: 38px; font-weight: 600; color: @white; }
QLabel#BrandLine { font-size: 15px; color: @white/0.68; }
QLabel#LoginHeading { font-family: "Poppins"; font-size: 30px; font-weight: 600; color: @white; }
QLabel#LoginLabel { font-size: 13px; font-weight: 500; color: @textSoft; }
QLabel#LoginMuted, QLabel#LoginHelper { font-size: 13px; color: @muted; }
QLabel#LoginError {
    font-size: 13px; color: @liveText;
    background: @live/0.12; border: 1px solid @live/0.35;
    border-radius: 8px; padding: 10px 12px;
}
QLineEdit#LoginField, QLineEdit#OtpField {
    background: @field; border: 1px solid @border; border-radius: 10px;
    min-height: 50px; padding: 0 16px; font-size: 14px; color: @text;
    selection-background-color: @accent;
}
QLineEdit#LoginField:focus, QLineEdit#OtpField:focus { border: 1px solid @accent; background: @fieldFocus; }
QLineEdit#OtpDigit {
    background: @field; border: 1px solid @border; border-radius: 10px;
    min-height: 52px; min-width: 44px; max-width: 56px;
    font-size: 22px; font-weight: 600; color: @text;
}
QLineEdit#OtpDigit:focus { border: 1px solid @accent; }
QCheckBox { font-size: 13px; color: @textSoft; spacing: 8px; }
QCheckBox::indicator {
    width: 18px; height: 18px; border: 1px solid @borderStrong; border-radius: 5px; background: @field;
}
QCheckBox::indicator:checked { background: @accent; border: 1px solid @accent; image: url(:/theme/check.svg); }
QPushButton#LoginPrimary {
    min-height: 50px; border: none; border-radius: 10px; color: @white;
    font-size: 14px; font-weight: 600; background: @accent;
}
QPushButton#LoginPrimary:hover { background: @accentHover; }
QPushButton#LoginPrimary:pressed { background: @accentPressed; }
QPushButton#LoginPrimary:disabled { background: @accent/0.35; color: @white/0.6; }
QPushButton#LoginText {
    border: none; background: transparent; color: @accentText;
    font-size: 13px; font-weight: 500; min-height: 32px; padding: 0 8px;
}
QPushButton#LoginText:hover { color: @white; }
QPushButton#LoginText:disabled { color: @faint; }
)CSS"));
}

QString appStyle()
{
    return expandTokens(kMenuRules + QStringLiteral(R"CSS(
QWidget { font-family: "Inter"; font-size: 14px; color: @text; }
QWidget#AppRoot, QWidget#ContentPad { background: @backdrop; }
QWidget#TopBar { background: @surface; border-bottom: 1px solid @line; min-height: 55px; max-height: 55px; }
QWidget#CatalogPane { background: @surface; border-right: 1px solid @line; }
QLabel { background: transparent; }
QLabel#OrgName { font-size: 15px; font-weight: 600; }
QLabel#ScreenTitle { font-size: 22px; font-weight: 600; }
QLabel#StageTitle { font-size: 17px; font-weight: 600; }
QLabel#CardTitle { font-size: 14px; font-weight: 600; color: @text; }
QLabel#UserName { font-size: 13px; font-weight: 500; }
QLabel#UserRole { font-size: 11px; color: @muted; }
QLabel#Avatar {
    background: @accent/0.18; color: @accentText; border-radius: 16px; font-weight: 600;
    min-width: 32px; max-width: 32px; min-height: 32px; max-height: 32px;
    qproperty-alignment: AlignCenter;
}
QLabel#Muted, QLabel#Meta { font-size: 12px; color: @muted; }
QLabel#TimeText { font-size: 12px; color: @text; }
QLabel#ModeBadge {
    font-size: 11px; font-weight: 600; letter-spacing: 1px;
    background: @white/0.08; border-radius: 10px; padding: 3px 10px;
}
QLabel#ModeBadge[mode="live"] { color: @liveText; background: @live/0.16; }
QLabel#ModeBadge[mode="device"] { color: @accentText; background: @accent/0.16; }
QLabel#ModeBadge[mode="cloud"] { color: @cloudText; background: @cloud/0.16; }
QLabel#Chip {
    font-size: 11px; font-weight: 500; color: @muted; background: @white/0.06;
    border-radius: 9px; padding: 0 9px; min-height: 18px; max-height: 18px;
}
QLabel#Chip[state="online"] { color: @onlineText; background: @online/0.14; }
QLabel#Chip[state="offline"] { color: @liveText; background: @live/0.14; }
QLabel#Dot {
    min-width: 4px; max-width: 4px; min-height: 4px; max-height: 4px;
    border-radius: 4px; background: transparent; border: 1.5px solid @faint;
}
QLabel#Dot[state="online"], QLabel#Dot[state="offline"] {
    min-width: 8px; max-width: 8px; min-height: 8px; max-height: 8px; border: none;
}
QLabel#Dot[state="online"] { background: @online; }
QLabel#Dot[state="offline"] { background: @live; }
QLineEdit#Search, QLineEdit#Field, QDateEdit, QTimeEdit, QSpinBox {
    min-height: 36px; border: 1px solid @border; border-radius: 8px; padding: 0 12px;
    background: @field; color: @text; selection-background-color: @accent; selection-color: @white;
}
QLineEdit#Search:focus, QLineEdit#Field:focus, QDateEdit:focus, QTimeEdit:focus, QSpinBox:focus {
    border: 1px solid @accent;
}
QDateEdit::drop-down, QTimeEdit::drop-down,
QDateEdit::up-button, QDateEdit::down-button, QTimeEdit::up-button, QTimeEdit::down-button,
QSpinBox::up-button, QSpinBox::down-button {
    border: none; width: 18px;
}
QDateEdit::down-arrow, QTimeEdit::down-arrow, QSpinBox::down-arrow, QComboBox::down-arrow {
    image: url(:/theme/chevron-down.svg); width: 12px; height: 12px;
}
QDateEdit::up-arrow, QTimeEdit::up-arrow, QSpinBox::up-arrow {
    image: url(:/theme/chevron-up.svg); width: 12px; height: 12px;
}
QCheckBox { color: @textSoft; spacing: 8px; }
QCheckBox::indicator {
    width: 18px; height: 18px; border: 1px solid @borderStrong; border-radius: 5px; background: @field;
}
QCheckBox::indicator:checked { background: @accent; border: 1px solid @accent; image: url(:/theme/check.svg); }
QCalendarWidget QWidget { background: @field; alternate-background-color: @field; color: @text; }
QCalendarWidget QAbstractItemView {
    selection-background-color: @accent; selection-color: @white; outline: 0;
}
QCalendarWidget QAbstractItemView:disabled { color: @disabled; }
QPushButton#Primary {
    background: @accent; color: @white; border: none; border-radius: 8px;
    min-height: 36px; padding: 0 18px; font-weight: 500;
}
QPushButton#Primary:hover { background: @accentHover; }
QPushButton#Primary:pressed { background: @accentPressed; }
QPushButton#Primary:disabled { background: @accent/0.25; color: @white/0.4; }
QPushButton#Secondary {
    background: @raised; color: @text; border: 1px solid @border; border-radius: 8px;
    min-height: 36px; padding: 0 16px; font-weight: 500;
}
QPushButton#Secondary:hover { background: @border; }
QPushButton#Secondary:disabled { background: @raisedDisabled; color: @faint; }
QPushButton#Danger {
    background: @danger; color: @white; border: none; border-radius: 8px;
    min-height: 36px; padding: 0 16px; font-weight: 500;
}
QPushButton#TextBtn {
    background: transparent; border: none; color: @muted; font-weight: 500;
    min-height: 32px; padding: 0 10px; border-radius: 8px;
}
QPushButton#TextBtn:hover { color: @text; background: @white/0.06; }
QPushButton#IconBtn {
    background: transparent; border: none; border-radius: 18px;
    min-width: 36px; max-width: 36px; min-height: 36px; max-height: 36px;
}
QPushButton#IconBtn:hover { background: @white/0.16; }
QPushButton#IconBtn:pressed { background: @white/0.24; }
QPushButton#IconBtn:disabled { background: transparent; }
QFrame#SegWrap { background: @white/0.10; border-radius: 15px; }
QPushButton#Seg {
    background: transparent; color: @textSoft; border: none; border-radius: 12px;
    min-height: 24px; max-height: 24px; padding: 0 14px; font-size: 12px; font-weight: 600;
}
QPushButton#Seg:hover { color: @white; }
QPushButton#Seg:checked { background: @accent; color: @white; }
QPushButton#ChannelRow {
    text-align: left; background: @field; border: 1px solid @rowLine; border-radius: 10px;
    min-height: 52px; padding: 0 14px;
}
QPushButton#ChannelRow:hover { background: @raised; border: 1px solid @borderStrong; }
QPushButton#ChannelRow[selected="true"] {
    background: @accent/0.12; border: 1px solid @accent/0.55;
}
QFrame#Card { background: @surface; border: 1px solid @line; border-radius: 12px; }
QTreeView#CatalogTree { border: none; background: transparent; outline: 0; }
QTreeView#CatalogTree::item {
    min-height: 36px; padding-left: 4px; color: @textSoft; border-radius: 8px; margin: 1px 0;
}
QTreeView#CatalogTree::item:hover { background: @white/0.05; }
QTreeView#CatalogTree::item:selected { background: @accent/0.16; color: @white; }
/* The catalogue pane's rows paint their own tint, on the row alone. */
QWidget#CatalogPane QTreeView#CatalogTree::item:selected { background: transparent; }
QTreeView#CatalogTree::branch { background: transparent; }
QTreeView#CatalogTree::branch:has-children:closed { image: url(:/theme/chevron-right.svg); }
QTreeView#CatalogTree::branch:has-children:open { image: url(:/theme/chevron-down.svg); }
QSlider#Seek::groove:horizontal { height: 4px; background: @white/0.25; border-radius: 2px; }
QSlider#Seek::sub-page:horizontal { background: @accent; border-radius: 2px; }
QSlider#Seek::handle:horizontal {
    background: @white; width: 12px; height: 12px; margin: -4px 0; border-radius: 6px;
}
QTableWidget {
    background: @surface; border: 1px solid @line; border-radius: 12px; gridline-color: @line;
}
QTableWidget QHeaderView, QTableWidget QTableCornerButton::section { background: @surface; border: none; }
QTableWidget QHeaderView::section {
    background: @surface; border: none; border-bottom: 1px solid @line;
    padding: 10px 12px; font-weight: 500; color: @muted;
}
QLabel#SiteName { font-size: 11px; font-weight: 600; color: @muted; letter-spacing: 1px; }
QPushButton#PlayAll {
    background: @accent/0.16; color: @accentText; border: none; border-radius: 11px;
    min-height: 22px; max-height: 22px; padding: 0 10px; font-size: 11px; font-weight: 600;
}
QPushButton#PlayAll:hover { background: @accent/0.32; color: @white; }
QPushButton#PlayAll:disabled { background: @white/0.05; color: @faint; }
QTreeView#CatalogTree QPushButton#IconBtn {
    min-width: 24px; max-width: 24px; min-height: 24px; max-height: 24px; border-radius: 12px;
}
QFrame#Tile { background: @backdrop; border: 2px solid @line; border-radius: 14px; }
QFrame#Tile:hover, QFrame#Tile:focus { border: 2px solid @borderStrong; }
QFrame#Tile[selected="true"] { border: 2px solid @accent; }
QWidget#TileBadge { background: @black/0.55; border-radius: 12px; }
QLabel#TileName { color: @white; font-size: 12px; font-weight: 600; }
QLabel#TileState { color: @white; font-size: 11px; font-weight: 700; }
QLabel#TileBadge { color: @white; font-size: 12px; padding: 5px 10px; }
QFrame#Tile QPushButton#IconBtn {
    min-width: 30px; max-width: 30px; min-height: 30px; max-height: 30px;
    border-radius: 15px; background: @black/0.45;
}
QFrame#Tile QPushButton#IconBtn:hover { background: @black/0.7; }
QFrame#Tile QFrame#SegWrap { background: @black/0.55; border-radius: 12px; }
QFrame#Tile QPushButton#Seg {
    min-height: 20px; max-height: 20px; padding: 0 9px; font-size: 11px; border-radius: 10px;
}
QComboBox {
    min-height: 34px; padding: 0 10px; color: @text; background: @combo;
    border: 1px solid @border; border-radius: 8px;
}
QComboBox:hover { border: 1px solid @borderHover; }
QComboBox::drop-down { border: none; width: 22px; }
QComboBox QAbstractItemView {
    background: @field; color: @text; border: 1px solid @border;
    selection-background-color: @accent/0.35; outline: 0;
}
QListWidget#PresetList {
    background: @surfaceList; border: 1px solid @line; border-radius: 10px; padding: 4px; outline: 0;
}
QListWidget#PresetList::item { padding: 10px 12px; border-radius: 8px; color: @text; }
QListWidget#PresetList::item:selected { background: @accent/0.25; color: @white; }
QListWidget#PresetList::item:hover:!selected { background: @white/0.05; }
QDialog, QMessageBox, QInputDialog { background: @field; }
QMessageBox QPushButton, QDialogButtonBox QPushButton {
    background: @raised; color: @text; border: 1px solid @border; border-radius: 8px;
    min-height: 34px; min-width: 64px; padding: 0 16px; font-weight: 500;
}
QMessageBox QPushButton:hover, QDialogButtonBox QPushButton:hover { background: @border; }
QMessageBox QPushButton:default, QDialogButtonBox QPushButton:default {
    background: @accent; color: @white; border: 1px solid @accent;
}
QMessageBox QPushButton:default:hover, QDialogButtonBox QPushButton:default:hover { background: @accentHover; }
QInputDialog QLineEdit, QInputDialog QComboBox QLineEdit {
    background: @field; color: @text; border: none; selection-background-color: @accent; selection-color: @white;
}
QInputDialog > QLineEdit {
    min-height: 34px; border: 1px solid @border; border-radius: 8px; padding: 0 10px;
}
QToolTip {
    background: @raised; color: @text; border: 1px solid @border; padding: 4px 8px; border-radius: 6px;
}
QScrollBar:vertical { width: 10px; background: transparent; margin: 2px; }
QScrollBar::handle:vertical { background: @borderStrong; border-radius: 4px; min-height: 28px; }
QScrollBar::handle:vertical:hover { background: @scrollHover; }
QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; }
QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: transparent; }
QScrollBar:horizontal { height: 10px; background: transparent; margin: 2px; }
QScrollBar::handle:horizontal { background: @borderStrong; border-radius: 4px; min-width: 28px; }
QScrollBar::handle:horizontal:hover { background: @scrollHover; }
QScrollBar::add-line:horizontal, QScrollBar::sub-line:horizontal { width: 0; }
QScrollBar::add-page:horizontal, QScrollBar::sub-page:horizontal { background: transparent; }
QScrollArea#ChannelList, QScrollArea#ChannelList > QWidget, QWidget#ChannelRows { background: transparent; }
QDialogButtonBox { dialogbuttonbox-buttons-have-icons: 0; }
)CSS"));
}

QString wallDisplayStyle()
{
    return expandTokens(QStringLiteral(R"CSS(
QWidget#WallDisplay { background: @black; }
QLabel#WallEmpty { background: @backdrop; border: 1px solid @combo; border-radius: 10px; }
)CSS"));
}

QString wallBarStyle()
{
    return expandTokens(QStringLiteral(R"CSS(
QWidget#WallBar { background: @backdrop/0.82; border-bottom: 1px solid @white/0.10; }
QWidget#WallBar QLabel { color: @text; font-size: 13px; font-weight: 600; background: transparent; }
QWidget#WallBar QPushButton {
    background: @white/0.10; color: @white; border: 1px solid @white/0.22; border-radius: 8px;
    min-height: 30px; max-height: 30px; padding: 0 14px; font-weight: 500;
}
QWidget#WallBar QPushButton:hover { background: @white/0.20; }
)CSS"));
}

QString wallIdentifyStyle()
{
    return expandTokens(QStringLiteral(R"CSS(
QLabel#WallIdentify { background: @accent/0.92; color: @white; border-radius: 24px; padding: 24px 40px; }
)CSS"));
}

QString wallSetupStyle()
{
    return expandTokens(QStringLiteral(R"CSS(
QWidget#WallRoot { background: @backdrop; }
QLabel#WallTitle { font-size: 17px; font-weight: 600; color: @text; }
QLabel#WallSection { font-size: 14px; font-weight: 600; color: @text; }
QCheckBox { color: @textSoft; spacing: 8px; }
QCheckBox::indicator {
    width: 18px; height: 18px; border: 1px solid @borderStrong; border-radius: 5px; background: @field;
}
QCheckBox::indicator:checked { background: @accent; border-color: @accent; image: url(:/theme/check.svg); }
)CSS"));
}

QPixmap rounded(const QPixmap& picture, int height, int radius)
{
    if (picture.isNull() || height < 1)
        return QPixmap();
    // Work in device pixels: twice the logical height, whatever ratio the
    // source carried.
    QPixmap scaled = picture.scaledToHeight(2 * height, Qt::SmoothTransformation);
    scaled.setDevicePixelRatio(1.0);

    QPixmap out(scaled.size());
    out.fill(Qt::transparent);
    {
        QPainter p(&out);
        p.setRenderHint(QPainter::Antialiasing);
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        QPainterPath clip;
        const qreal r = 2.0 * qMax(0, radius);
        clip.addRoundedRect(QRectF(out.rect()), r, r);
        p.setClipPath(clip);
        p.drawPixmap(0, 0, scaled);
    }
    out.setDevicePixelRatio(2.0);
    return out;
}

} // namespace Theme

} // namespace kvr::ui

#include "app/core/Theme.h"

#include <QFile>
#include <QFontDatabase>
#include <QPainter>
#include <QPainterPath>

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

// Alpha in the sheets is written as a fraction (rgba(r, g, b, 0.16)), which
// Qt reads as that share of 255. Heights and widths in a sheet size the
// contents box, so a fixed size with a border gives the contents the border's
// share less: the top bar is 56 tall with its bottom line, and the idle dot
// is 8 wide with its ring (Qt rounds the 1.5 px ring to 2).

QString loginStyle()
{
    return QStringLiteral(R"CSS(
QWidget#LoginRoot, QWidget#LoginRight { background: #0b0f14; }
QWidget { font-family: "Inter"; color: #e8ecf2; }
QLabel { background: transparent; }
QLabel#BrandWordmark { font-family: "Poppins"; font-size: 20px; font-weight: 600; color: #ffffff; }
QLabel#BrandHeadline { font-family: "Poppins"; font-size: 38px; font-weight: 600; color: #ffffff; }
QLabel#BrandLine { font-size: 15px; color: rgba(255, 255, 255, 0.68); }
QLabel#LoginHeading { font-family: "Poppins"; font-size: 30px; font-weight: 600; color: #ffffff; }
QLabel#LoginLabel { font-size: 13px; font-weight: 500; color: #cfd6e2; }
QLabel#LoginMuted, QLabel#LoginHelper { font-size: 13px; color: #8a96a8; }
QLabel#LoginError {
    font-size: 13px; color: #ff8a8e;
    background: rgba(242, 85, 90, 0.12); border: 1px solid rgba(242, 85, 90, 0.35);
    border-radius: 8px; padding: 10px 12px;
}
QLineEdit#LoginField, QLineEdit#OtpField {
    background: #161c25; border: 1px solid #243040; border-radius: 10px;
    min-height: 50px; padding: 0 16px; font-size: 14px; color: #e8ecf2;
    selection-background-color: #3b82f6;
}
QLineEdit#LoginField:focus, QLineEdit#OtpField:focus { border: 1px solid #3b82f6; background: #1a212c; }
QLineEdit#OtpDigit {
    background: #161c25; border: 1px solid #243040; border-radius: 10px;
    min-height: 52px; min-width: 44px; max-width: 56px;
    font-size: 22px; font-weight: 600; color: #e8ecf2;
}
QLineEdit#OtpDigit:focus { border: 1px solid #3b82f6; }
QCheckBox { font-size: 13px; color: #cfd6e2; spacing: 8px; }
QCheckBox::indicator {
    width: 18px; height: 18px; border: 1px solid #2a3646; border-radius: 5px; background: #161c25;
}
QCheckBox::indicator:checked { background: #3b82f6; border: 1px solid #3b82f6; }
QPushButton#LoginPrimary {
    min-height: 50px; border: none; border-radius: 10px; color: #ffffff;
    font-size: 14px; font-weight: 600; background: #3b82f6;
}
QPushButton#LoginPrimary:hover { background: #5b9bff; }
QPushButton#LoginPrimary:pressed { background: #2f6fdb; }
QPushButton#LoginPrimary:disabled { background: rgba(59, 130, 246, 0.35); color: rgba(255, 255, 255, 0.6); }
QPushButton#LoginText {
    border: none; background: transparent; color: #7fb0ff;
    font-size: 13px; font-weight: 500; min-height: 32px; padding: 0 8px;
}
QPushButton#LoginText:hover { color: #ffffff; }
QPushButton#LoginText:disabled { color: #5b6677; }
)CSS");
}

QString appStyle()
{
    return QStringLiteral(R"CSS(
QWidget { font-family: "Inter"; font-size: 14px; color: #e8ecf2; }
QWidget#AppRoot, QWidget#ContentPad { background: #0b0f14; }
QWidget#TopBar { background: #11161d; border-bottom: 1px solid #1b2330; min-height: 55px; max-height: 55px; }
QWidget#CatalogPane { background: #11161d; border-right: 1px solid #1b2330; }
QLabel { background: transparent; }
QLabel#OrgName { font-size: 15px; font-weight: 600; }
QLabel#ScreenTitle { font-size: 22px; font-weight: 600; }
QLabel#StageTitle { font-size: 17px; font-weight: 600; }
QLabel#UserName { font-size: 13px; font-weight: 500; }
QLabel#UserRole { font-size: 11px; color: #8a96a8; }
QLabel#Avatar {
    background: rgba(59, 130, 246, 0.18); color: #7fb0ff; border-radius: 16px; font-weight: 600;
    min-width: 32px; max-width: 32px; min-height: 32px; max-height: 32px;
    qproperty-alignment: AlignCenter;
}
QLabel#Muted, QLabel#Meta { font-size: 12px; color: #8a96a8; }
QLabel#TimeText { font-size: 12px; color: #e8ecf2; }
QLabel#ModeBadge {
    font-size: 11px; font-weight: 600; letter-spacing: 1px;
    background: rgba(255, 255, 255, 0.08); border-radius: 10px; padding: 3px 10px;
}
QLabel#ModeBadge[mode="live"] { color: #ff8a8e; background: rgba(242, 85, 90, 0.16); }
QLabel#ModeBadge[mode="device"] { color: #7fb0ff; background: rgba(59, 130, 246, 0.16); }
QLabel#ModeBadge[mode="cloud"] { color: #b3a8ff; background: rgba(139, 124, 246, 0.16); }
QLabel#Chip {
    font-size: 11px; font-weight: 500; color: #8a96a8; background: rgba(255, 255, 255, 0.06);
    border-radius: 9px; padding: 0 9px; min-height: 18px; max-height: 18px;
}
QLabel#Chip[state="online"] { color: #5fe0a0; background: rgba(52, 199, 123, 0.14); }
QLabel#Chip[state="offline"] { color: #ff8a8e; background: rgba(242, 85, 90, 0.14); }
QLabel#Dot {
    min-width: 4px; max-width: 4px; min-height: 4px; max-height: 4px;
    border-radius: 4px; background: transparent; border: 1.5px solid #5b6677;
}
QLabel#Dot[state="online"], QLabel#Dot[state="offline"] {
    min-width: 8px; max-width: 8px; min-height: 8px; max-height: 8px; border: none;
}
QLabel#Dot[state="online"] { background: #34c77b; }
QLabel#Dot[state="offline"] { background: #f2555a; }
QLineEdit#Search, QLineEdit#Field, QDateEdit, QTimeEdit {
    min-height: 36px; border: 1px solid #243040; border-radius: 8px; padding: 0 12px;
    background: #161c25; selection-background-color: #3b82f6;
}
QLineEdit#Search:focus, QLineEdit#Field:focus, QDateEdit:focus, QTimeEdit:focus { border: 1px solid #3b82f6; }
QDateEdit::drop-down, QTimeEdit::drop-down,
QDateEdit::up-button, QDateEdit::down-button, QTimeEdit::up-button, QTimeEdit::down-button {
    border: none; width: 18px;
}
QCalendarWidget QWidget { background: #161c25; alternate-background-color: #161c25; color: #e8ecf2; }
QCalendarWidget QAbstractItemView {
    selection-background-color: #3b82f6; selection-color: #ffffff; outline: 0;
}
QCalendarWidget QAbstractItemView:disabled { color: #4a5568; }
QPushButton#Primary {
    background: #3b82f6; color: #ffffff; border: none; border-radius: 8px;
    min-height: 36px; padding: 0 18px; font-weight: 500;
}
QPushButton#Primary:hover { background: #5b9bff; }
QPushButton#Primary:pressed { background: #2f6fdb; }
QPushButton#Primary:disabled { background: rgba(59, 130, 246, 0.25); color: rgba(255, 255, 255, 0.4); }
QPushButton#Secondary {
    background: #1c2430; color: #e8ecf2; border: 1px solid #243040; border-radius: 8px;
    min-height: 36px; padding: 0 16px; font-weight: 500;
}
QPushButton#Secondary:hover { background: #243040; }
QPushButton#Secondary:disabled { background: #151b24; color: #5b6677; }
QPushButton#Danger {
    background: #f2555a; color: #ffffff; border: none; border-radius: 8px;
    min-height: 36px; padding: 0 16px; font-weight: 500;
}
QPushButton#TextBtn {
    background: transparent; border: none; color: #8a96a8; font-weight: 500;
    min-height: 32px; padding: 0 10px; border-radius: 8px;
}
QPushButton#TextBtn:hover { color: #e8ecf2; background: rgba(255, 255, 255, 0.06); }
QPushButton#IconBtn {
    background: transparent; border: none; border-radius: 18px;
    min-width: 36px; max-width: 36px; min-height: 36px; max-height: 36px;
}
QPushButton#IconBtn:hover { background: rgba(255, 255, 255, 0.16); }
QPushButton#IconBtn:pressed { background: rgba(255, 255, 255, 0.24); }
QPushButton#IconBtn:disabled { background: transparent; }
QFrame#SegWrap { background: rgba(255, 255, 255, 0.10); border-radius: 15px; }
QPushButton#Seg {
    background: transparent; color: #cfd6e2; border: none; border-radius: 12px;
    min-height: 24px; max-height: 24px; padding: 0 14px; font-size: 12px; font-weight: 600;
}
QPushButton#Seg:hover { color: #ffffff; }
QPushButton#Seg:checked { background: #3b82f6; color: #ffffff; }
QPushButton#ChannelRow {
    text-align: left; background: #161c25; border: 1px solid #1f2733; border-radius: 10px;
    min-height: 52px; padding: 0 14px;
}
QPushButton#ChannelRow:hover { background: #1c2430; border: 1px solid #2a3646; }
QPushButton#ChannelRow[selected="true"] {
    background: rgba(59, 130, 246, 0.12); border: 1px solid rgba(59, 130, 246, 0.55);
}
QFrame#Card { background: #11161d; border: 1px solid #1b2330; border-radius: 12px; }
QTreeWidget#CatalogTree { border: none; background: transparent; outline: 0; }
QTreeWidget#CatalogTree::item {
    min-height: 36px; padding-left: 4px; color: #cfd6e2; border-radius: 8px; margin: 1px 0;
}
QTreeWidget#CatalogTree::item:hover { background: rgba(255, 255, 255, 0.05); }
QTreeWidget#CatalogTree::item:selected { background: rgba(59, 130, 246, 0.16); color: #ffffff; }
QTreeWidget#CatalogTree::branch { background: transparent; }
QSlider#Seek::groove:horizontal { height: 4px; background: rgba(255, 255, 255, 0.25); border-radius: 2px; }
QSlider#Seek::sub-page:horizontal { background: #3b82f6; border-radius: 2px; }
QSlider#Seek::handle:horizontal {
    background: #ffffff; width: 12px; height: 12px; margin: -4px 0; border-radius: 6px;
}
QTableWidget {
    background: #11161d; border: 1px solid #1b2330; border-radius: 12px; gridline-color: #1b2330;
}
QTableWidget QHeaderView, QTableWidget QTableCornerButton::section { background: #11161d; border: none; }
QTableWidget QHeaderView::section {
    background: #11161d; border: none; border-bottom: 1px solid #1b2330;
    padding: 10px 12px; font-weight: 500; color: #8a96a8;
}
QLabel#SiteName { font-size: 11px; font-weight: 600; color: #8a96a8; letter-spacing: 1px; }
QPushButton#PlayAll {
    background: rgba(59, 130, 246, 0.16); color: #7fb0ff; border: none; border-radius: 11px;
    min-height: 22px; max-height: 22px; padding: 0 10px; font-size: 11px; font-weight: 600;
}
QPushButton#PlayAll:hover { background: rgba(59, 130, 246, 0.32); color: #ffffff; }
QPushButton#PlayAll:disabled { background: rgba(255, 255, 255, 0.05); color: #5b6677; }
QFrame#Tile { background: #0b0f14; border: 2px solid #1b2330; border-radius: 14px; }
QFrame#Tile:hover { border: 2px solid #2a3646; }
QFrame#Tile[selected="true"] { border: 2px solid #3b82f6; }
QWidget#TileBadge { background: rgba(0, 0, 0, 0.55); border-radius: 12px; }
QLabel#TileName { color: #ffffff; font-size: 12px; font-weight: 600; }
QComboBox {
    min-height: 34px; padding: 0 10px; color: #e8ecf2; background: #141a23;
    border: 1px solid #243040; border-radius: 8px;
}
QComboBox:hover { border: 1px solid #33445a; }
QComboBox::drop-down { border: none; width: 22px; }
QComboBox QAbstractItemView {
    background: #161c25; color: #e8ecf2; border: 1px solid #243040;
    selection-background-color: rgba(59, 130, 246, 0.35); outline: 0;
}
QListWidget#PresetList {
    background: #11161e; border: 1px solid #1b2330; border-radius: 10px; padding: 4px; outline: 0;
}
QListWidget#PresetList::item { padding: 10px 12px; border-radius: 8px; color: #e8ecf2; }
QListWidget#PresetList::item:selected { background: rgba(59, 130, 246, 0.25); color: #ffffff; }
QListWidget#PresetList::item:hover:!selected { background: rgba(255, 255, 255, 0.05); }
QDialog, QMessageBox, QInputDialog { background: #161c25; }
QToolTip {
    background: #1c2430; color: #e8ecf2; border: 1px solid #243040; padding: 4px 8px; border-radius: 6px;
}
QScrollBar:vertical { width: 10px; background: transparent; margin: 2px; }
QScrollBar::handle:vertical { background: #2a3646; border-radius: 4px; min-height: 28px; }
QScrollBar::handle:vertical:hover { background: #3a4a60; }
QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; }
QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: transparent; }
)CSS");
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

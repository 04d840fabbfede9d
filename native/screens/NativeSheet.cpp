#include "native/screens/NativeStyle.h"

#include <array>

using namespace kvr::ui;

namespace kvr::screens {

namespace NativeStyle {

namespace {

// Every colour of native mode. The sheet below names them; painting code
// uses the constants of the header, which equal these.
constexpr std::array<Theme::Token, 40> kTokens{{
    {"primary", 0x004aad},       // selection, primary buttons, active card
    {"primaryHover", 0x003a8c},  // hovered primary button and text button
    {"success", 0x28a745},       // up, pass
    {"warning", 0xffc107},       // warn
    {"danger", 0xdc3545},        // down, fail
    {"info", 0x17a2b8},          // informational accent
    {"infoText", 0x117a8b},      // text of an info chip
    {"muted", 0x6c757d},         // secondary text
    {"text", 0x333333},          // body text
    {"hairline", 0xdee2e6},      // row separators, borders of light controls
    {"unknownBorder", 0xadb5bd}, // unknown dot and chip, hovered combo border
    {"page", 0xf7f9fc},          // window and dialog ground
    {"white", 0xffffff},         // panes, cards, fields
    {"line", 0xe9ecef},          // pane and card borders
    {"issueHover", 0xf4f6f9},    // hovered overview row
    {"light", 0xf8f9fa},         // hovered secondary button, unknown chip
    {"dangerLight", 0xfff5f5},   // hovered danger text button
    {"seg", 0xeef1f5},           // segmented control and navigation ground
    {"field", 0xced4da},         // field borders, scroll handles
    {"fieldOff", 0xf1f3f5},      // disabled field ground, unknown heat-map hour
    {"warnText", 0xb45309},      // amber text
    {"poorText", 0xb91c1c},      // text of a poor chip
    {"chipText", 0x495057},      // text of an unknown chip
    {"onAmber", 0x5c3d00},       // text on an amber square
    {"black", 0x000000},         // live tiles
    {"vBackdrop", 0x0b0f14},     // live wall ground
    {"vSurface", 0x11161d},      // live wall side and bar
    {"vLine", 0x1b2330},         // live wall dividers and tile border
    {"vMuted", 0x8a96a8},        // live wall secondary text
    {"vText", 0xe8ecf2},         // live wall text
    {"vField", 0x161c25},        // live wall fields
    {"vBorder", 0x243040},       // live wall field border
    {"vAccent", 0x3b82f6},       // live wall accent
    {"vAccentHover", 0x2f6fd8},  // hovered live wall primary button
    {"vTree", 0xcfd6e2},         // live wall tree text
    {"vBorderStrong", 0x2a3646}, // live wall check box border
    {"vFaint", 0x5b6677},        // live wall disabled text
    {"vFocus", 0x7fb0ff},        // live wall: the ring around what holds the keyboard's focus
    {"toast", 0x333333},         // toast ground
    {"hoverRow", 0xf8f9fa},      // hovered table cell
}};

// One rule per line where it fits; sizes in px. Selector order matters only
// where two rules meet the same widget (later wins).
constexpr char kSheet[] = R"(
QWidget#NRoot, QDialog { background: @page; }
QWidget { font-family: "Inter"; font-size: 14px; color: @text; }
QLabel { background: transparent; }
QToolTip { background: @white; color: @text; border: 1px solid @hairline; padding: 4px 8px; }
QDialogButtonBox { dialogbuttonbox-buttons-have-icons: 0; }
QWidget#NTopBar { background: @white; border-bottom: 1px solid @line; }
QLabel#NTitle { font-size: 20px; font-weight: 600; color: @text; }
QLabel#NScreenTitle { font-size: 16px; font-weight: 600; color: @text; }
QLabel#NSection { font-size: 14px; font-weight: 600; color: @text; }
QLabel#NMuted { font-size: 12px; color: @muted; }
QLabel#NValue, QLabel#NMono { font-size: 14px; color: @text; }
QLabel#NEmpty { font-size: 14px; color: @muted; }
QLabel#NError { font-size: 12px; color: @danger; }
QFrame#NCard, QWidget#NPane { background: @white; border: 1px solid @line; border-radius: 12px; }
QFrame#NCard:hover, QFrame#NCard:focus { border: 1px solid @primary/0.35; }
QFrame#NCard[active="true"], QFrame#NCard[active="true"]:hover { border: 1px solid @primary; }
QFrame#NCard QLabel { border: none; }
QLabel#NCardLabel { font-size: 12px; color: @muted; }
QLabel#NCardValue { font-size: 24px; font-weight: 600; color: @text; }
QLabel#NCardDetail { font-size: 12px; color: @muted; }
QFrame#NAccent { border: none; border-radius: 2px; min-width: 4px; max-width: 4px; }
QFrame#NIssue { background: transparent; border: none; border-radius: 8px; }
QFrame#NIssue:hover, QFrame#NIssue:focus { background: @issueHover; }
QLabel#NIssueTitle { font-size: 13px; font-weight: 600; color: @text; }
QLabel#NIssueDetail { font-size: 12px; color: @muted; }
QLabel#NLink { font-size: 12px; font-weight: 600; color: @primary; }
QPushButton { font-size: 14px; font-weight: 500; min-height: 36px; max-height: 36px; padding: 0 16px;
    border-radius: 8px; outline: none; }
QPushButton#NPrimary { background: @primary; color: @white; border: none; }
QPushButton#NPrimary:hover { background: @primaryHover; }
QPushButton#NPrimary:disabled { background: @primary/0.4; }
QPushButton#NSecondary { background: @white; color: @text; border: 1px solid @hairline; }
QPushButton#NSecondary:hover { background: @light; }
QPushButton#NDanger, QPushButton#Danger { background: @danger; color: @white; border: none; }
QPushButton#NDangerText { background: transparent; color: @danger; border: 1px solid @hairline; }
QPushButton#NDangerText:hover { background: @dangerLight; }
QPushButton#NText { background: transparent; color: @primary; border: none; padding: 0 8px; }
QPushButton#NText:hover { color: @primaryHover; }
QDialogButtonBox QPushButton { background: @white; color: @text; border: 1px solid @hairline; min-width: 64px; }
QDialogButtonBox QPushButton:hover { background: @light; }
QDialogButtonBox QPushButton:default { background: @primary; color: @white; border: none; }
QDialogButtonBox QPushButton:default:hover { background: @primaryHover; }
QPushButton[menuButton="true"] { padding-right: 20px; }
QPushButton::menu-indicator { image: url(:/native/chevron-down.svg); width: 12px; height: 12px;
    subcontrol-origin: padding; subcontrol-position: center right; right: 14px; }
QPushButton#NSecondary:disabled, QPushButton#NDangerText:disabled, QPushButton#NText:disabled {
    color: @unknownBorder; background: @light; }
QFrame#NSegWrap { background: @seg; border-radius: 8px; }
QPushButton#NSeg { background: transparent; color: @muted; border: none; border-radius: 6px; min-height: 28px;
    max-height: 28px; padding: 0 12px; font-size: 13px; }
QPushButton#NSeg:checked { background: @white; color: @primary; font-weight: 600; }
QLineEdit, QSpinBox, QDateEdit { min-height: 36px; padding: 0 10px; border: 1px solid @field; border-radius: 8px;
    background: @white; color: @text; selection-background-color: @primary/0.25; selection-color: @text; }
QPlainTextEdit { min-height: 36px; padding: 6px 10px; border: 1px solid @field; border-radius: 8px;
    background: @white; color: @text; selection-background-color: @primary/0.25; selection-color: @text; }
QLineEdit:focus, QSpinBox:focus, QDateEdit:focus, QPlainTextEdit:focus, QComboBox:focus {
    border: 1px solid @primary; }
QLineEdit:disabled, QSpinBox:disabled, QDateEdit:disabled { background: @fieldOff; color: @muted; }
QDateEdit::drop-down { width: 26px; border: none; }
QDateEdit::down-arrow { image: url(:/native/chevron-down.svg); width: 12px; height: 12px; }
QLineEdit[invalid="true"] { border: 1px solid @danger; }
QSpinBox::up-button, QSpinBox::down-button { width: 0; border: none; }
QComboBox { min-height: 36px; padding: 0 28px 0 10px; border: 1px solid @field; border-radius: 8px;
    background: @white; color: @text; }
QComboBox:hover { border: 1px solid @unknownBorder; }
QComboBox::drop-down { width: 26px; border: none; }
QComboBox::down-arrow { image: url(:/native/chevron-down.svg); width: 12px; height: 12px; }
QComboBox QAbstractItemView { background: @white; color: @text; border: 1px solid @hairline;
    selection-background-color: @primary/0.08; selection-color: @primary; padding: 4px; }
QCheckBox { spacing: 8px; color: @text; }
QCheckBox::indicator { width: 18px; height: 18px; border: 1px solid @field; border-radius: 5px; background: @white; }
QCheckBox::indicator:checked { background: @primary; border: 1px solid @primary; image: url(:/native/check.svg); }
QTableView#NTable { background: @white; border: none; outline: none; gridline-color: transparent;
    alternate-background-color: @white; selection-background-color: transparent; }
QTableView#NTable::item { border-bottom: 1px solid @hairline; padding-left: 12px; }
QHeaderView { background: @white; border: none; }
QHeaderView::section { background: @white; color: @muted; border: none; border-bottom: 1px solid @hairline;
    padding: 10px 4px 10px 12px; font-size: 12px; font-weight: 600; }
QTabWidget::pane { border: none; border-top: 1px solid @line; top: -1px; }
QTabBar::tab { background: transparent; color: @muted; padding: 10px 16px; margin-right: 4px;
    border: none; border-bottom: 2px solid transparent; font-weight: 500; }
QTabBar::tab:selected { color: @primary; border-bottom: 2px solid @primary; }
QTabBar::tab:hover:!selected { color: @text; }
QScrollArea, QScrollArea > QWidget > QWidget { border: none; background: transparent; }
QScrollBar:vertical { width: 10px; background: transparent; margin: 2px; }
QScrollBar:horizontal { height: 10px; background: transparent; margin: 2px; }
QScrollBar::handle:vertical { background: @field; border-radius: 4px; min-height: 28px; }
QScrollBar::handle:horizontal { background: @field; border-radius: 4px; min-width: 28px; }
QScrollBar::handle:vertical:hover { background: @unknownBorder; }
QScrollBar::add-line, QScrollBar::sub-line { width: 0; height: 0; border: none; background: none; }
QScrollBar::add-page, QScrollBar::sub-page { background: none; }
QMenu { background: @white; color: @text; border: 1px solid @hairline; border-radius: 8px; padding: 4px;
    etch-disabled-text: 0; }
QMenu::item { background: transparent; color: @text; padding: 8px 16px; border-radius: 6px; }
QMenu::item:selected { background: @primary/0.08; color: @primary; }
QMenu::item:disabled { color: @muted; background: transparent; }
QMenu::separator { height: 1px; background: @hairline; margin: 4px 6px; }
QLabel#NChip { min-height: 22px; max-height: 22px; border-radius: 11px; padding: 0 8px; font-size: 12px;
    font-weight: 600; }
QLabel#NChip[chip="pass"] { background: @success/0.12; color: @success; border: 1px solid transparent; }
QLabel#NChip[chip="fail"] { background: @danger/0.12; color: @danger; border: 1px solid transparent; }
QLabel#NChip[chip="poor"] { background: @danger/0.12; color: @poorText; border: 1px solid transparent; }
QLabel#NChip[chip="warn"] { background: @warning/0.14; color: @warnText; border: 1px solid transparent; }
QLabel#NChip[chip="info"] { background: @info/0.12; color: @infoText; border: 1px solid transparent; }
QLabel#NChip[chip="unknown"] { background: @light; color: @chipText; border: 1px solid @unknownBorder; }
QFrame#NBanner { background: @danger/0.08; border: 1px solid @danger/0.25; border-radius: 8px; }
QFrame#NRow { background: @white; border: 1px solid @line; border-radius: 10px; }
QFrame#NHair { background: @line; min-height: 1px; max-height: 1px; border: none; }
QProgressBar { background: @line; border: none; border-radius: 4px; min-height: 8px; max-height: 8px;
    text-align: center; }
QProgressBar::chunk { border-radius: 4px; background: @success; }
QProgressBar[level="warn"]::chunk { background: @warning; }
QProgressBar[level="bad"]::chunk { background: @danger; }
QSplitter::handle { background: transparent; }
QWidget#NPaneFlat { background: @white; border: none; }
QFrame#NFoot { background: @white; border: none; border-top: 1px solid @line; }
QFrame#NNav { background: @seg; border-radius: 10px; }
QPushButton#NNavBtn { background: transparent; color: @muted; border: none; border-radius: 8px; min-height: 32px;
    max-height: 32px; padding: 0 18px; font-weight: 600; }
QPushButton#NNavBtn:checked { background: @white; color: @primary; }
QPushButton#NNavBtn:hover:!checked { color: @text; }
QWidget#VRoot { background: @vBackdrop; }
QWidget#VRoot QLabel { color: @vText; }
QWidget#VSide { background: @vSurface; border-right: 1px solid @vLine; }
QSplitter#VSplit::handle { background: @vBackdrop; }
QWidget#VBar { background: @vSurface; border-bottom: 1px solid @vLine; }
QLabel#VMuted { font-size: 12px; color: @vMuted; }
QLabel#VTitle { font-size: 16px; font-weight: 600; color: @vText; }
QLabel#VEmpty { font-size: 14px; color: @vMuted; }
QWidget#VRoot QLineEdit { background: @vField; border: 1px solid @vBorder; color: @vText;
    selection-background-color: @vAccent/0.4; }
QWidget#VRoot QLineEdit:focus { border: 1px solid @vAccent; }
QWidget#VRoot QDateEdit, QWidget#VRoot QTimeEdit { background: @vField; border: 1px solid @vBorder;
    border-radius: 8px; color: @vText; min-height: 36px; max-height: 36px; padding: 0 10px; }
QWidget#VRoot QDateEdit:focus, QWidget#VRoot QTimeEdit:focus { border: 1px solid @vAccent; }
QWidget#VRoot QDateEdit::drop-down { width: 22px; border: none; }
QWidget#VRoot QDateEdit::down-arrow { image: url(:/native/chevron-down.svg); width: 12px; height: 12px; }
QWidget#VRoot QTimeEdit::up-button, QWidget#VRoot QTimeEdit::down-button { width: 0; border: none; }
QTreeWidget#VTree { background: transparent; border: none; outline: none; color: @vTree; }
QTreeWidget#VTree::item { padding: 5px 2px; border-radius: 6px; }
QTreeWidget#VTree::item:hover { background: @white/0.06; }
QTreeWidget#VTree::item:selected { background: @vAccent/0.18; color: @white; }
QTreeWidget#VTree::indicator { width: 16px; height: 16px; border: 1px solid @vBorderStrong; border-radius: 4px;
    background: @vField; }
QTreeWidget#VTree::indicator:checked { background: @vAccent; border: 1px solid @vAccent;
    image: url(:/native/check.svg); }
QTreeWidget#VTree::indicator:indeterminate { background: @vAccent; border: 1px solid @vAccent; }
QPushButton#VBtn { background: @white/0.08; color: @vText; border: 1px solid @white/0.14; }
QPushButton#VBtn:hover { background: @white/0.14; }
QPushButton#VBtn:disabled { color: @vFaint; background: @white/0.04; }
QPushButton#VPrimary { background: @vAccent; color: @white; border: none; }
QPushButton#VPrimary:hover { background: @vAccentHover; }
QFrame#VSegWrap { background: @white/0.08; border-radius: 8px; }
QPushButton#VSeg { background: transparent; color: @vMuted; border: none; border-radius: 6px; min-height: 28px;
    max-height: 28px; padding: 0 12px; font-size: 13px; }
QPushButton#VSeg:checked { background: @white/0.16; color: @white; font-weight: 600; }
QFrame#VTile { background: @black; border: 2px solid @vLine; border-radius: 12px; }
QFrame#VTile[hot="true"] { border: 2px solid @vAccent; }
QWidget#VBadge { background: @black/0.6; border-radius: 11px; }
QLabel#VTileName { color: @white; font-size: 12px; font-weight: 600; }
QLabel#VTileSub { color: @white/0.65; font-size: 11px; }
QLabel#VTileState { color: @white; font-size: 11px; font-weight: 700; }
)";

} // namespace

std::span<const Theme::Token> tokens()
{
    return kTokens;
}

QColor token(const char* name, qreal alpha)
{
    for (const Theme::Token& t : kTokens) {
        if (qstrcmp(t.name, name) == 0) {
            QColor c = QColor::fromRgb(t.rgb);
            c.setAlphaF(float(qBound(0.0, alpha, 1.0)));
            return c;
        }
    }
    return {};
}

QString stylesheet()
{
    static const QString sheet = Theme::expandTokens(QString::fromLatin1(kSheet), kTokens);
    return sheet;
}

} // namespace NativeStyle

} // namespace kvr::screens

#pragma once

// Widgets and layouts that keep texts readable as space runs out, shared by
// the screens of both modes: a row that wraps onto further lines, a
// one-line label that shortens its text with its whole text in the tool
// tip, and a date or time field sized to the widest text it can show.

#include <QLabel>
#include <QLayout>
#include <QList>
#include <QStyledItemDelegate>

#include <functional>

class QComboBox;
class QDateTimeEdit;
class QFontMetrics;
class QHBoxLayout;
class QLineEdit;

namespace kvr::ui {

// A row of controls that moves its items onto further lines when they do
// not fit side by side. Items keep their order; leading items sit at the
// left of their line, trailing items at the right (so a header keeps its
// title left and its buttons right on one line). An item that does not fit
// beside what stands on its line starts the next one.
class WrapRow : public QLayout {
    Q_OBJECT
public:
    // How the row sizes its items and itself.
    enum class Sizing {
        // Items at their preferred sizes within their own limits, an item
        // wider than a whole line given the line's width; hidden items take
        // no room; each item centred on its line's height, and the first on
        // a line that grows horizontally (a search field) takes what the
        // line has left over. The row asks for its items side by side and
        // grows horizontally (a header, a bar of filters).
        FitLine,
        // Items at their size hints as they are, at the top of their line:
        // an item wider than a whole line stands alone on one and runs past
        // its end, and an item without height (a hidden one) does not count
        // as something on its line. The row asks for no more room than its
        // largest item and does not grow (a block of buttons or of tiles).
        AtHint,
    };

    explicit WrapRow(QWidget* parent = nullptr, int hSpacing = 8, int vSpacing = 8, Sizing sizing = Sizing::FitLine);
    ~WrapRow() override;

    void addLeading(QWidget* w);
    void addTrailing(QWidget* w);

    // QLayout: items added without a side are leading.
    void addItem(QLayoutItem* item) override;
    QLayoutItem* itemAt(int index) const override;
    QLayoutItem* takeAt(int index) override;
    int count() const override { return int(m_items.size()); }
    Qt::Orientations expandingDirections() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSize() const override;
    void setGeometry(const QRect& rect) override;

    // Lines the items take at `width`, each a list of item indexes.
    QList<QList<int>> lines(int width) const;
    // Walks the items over `rect`, placing them only when `apply`; returns
    // the height used.
    int arrange(const QRect& rect, bool apply) const;

private:
    struct Entry {
        QLayoutItem* item;
        bool trailing;
    };
    // Whether the item stands on a line at all.
    bool placed(const Entry& e) const;
    QSize itemSize(const Entry& e, int lineWidth) const;

    QList<Entry> m_items;
    int m_hSpacing;
    int m_vSpacing;
    Sizing m_sizing;
};

// A row of controls in `group` (margins 0) that a WrapRow keeps together
// on one line.
QHBoxLayout* groupRow(QWidget* group, int spacing);

// One line of text shortened at the right with "…" to the width the label
// is given; while shortened, the whole text is its tool tip. Its smallest
// width is a few letters, so rows can give it what is left.
class ElidedLabel : public QLabel {
    Q_OBJECT
public:
    explicit ElidedLabel(QWidget* parent = nullptr);
    explicit ElidedLabel(const QString& text, QWidget* parent = nullptr);

    void setFullText(const QString& text);
    QString fullText() const { return m_full; }
    bool isShortened() const { return text() != m_full; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void refit();

    QString m_full;
};

// A label as wide as the widest text it is meant to show, whatever it
// shows now (nothing, too), so that its neighbours do not move when its text
// comes, goes or grows.
class SteadyLabel : public QLabel {
    Q_OBJECT
public:
    explicit SteadyLabel(const QString& widest, QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

private:
    QString m_widest;
};

// ---- Names told apart (the titling rule itself is NamesApart.h) ---------------------
// Whether `widget` counts among the siblings a name is told apart from: any
// not hidden on purpose, and any held back (holdBack) to show soon. A widget
// just added to a shown layout is still hidden until the layout shows it in a
// later turn, after its neighbours may already have been laid out; counting
// it only once shown would leave the first tiles of a wall told apart from
// fewer names than they stand beside.
bool standsBeside(const QWidget& widget);
// Hides `widget` until its owner shows it, soon (a wall shows its tiles a few
// at a time): meanwhile it stands beside its siblings all the same.
void holdBack(QWidget* widget);
// Calls `refit` once control is back in the event loop whenever siblings of
// `widget` (its parent's other children) come, go, show or are hidden: a name
// told apart from its siblings is fitted again against all of them, so that
// what it reads does not wait for the pointer to pass to change.
void refitWithSiblings(QWidget* widget, std::function<void()> refit);

// The texts (`role`) of the items beside `index` in its model: the same
// column under the same parent, up to `around` rows either side.
QStringList siblingTexts(const QModelIndex& index, int around = 200, int role = Qt::DisplayRole);
// The texts (`role`) of the items at `index`'s depth throughout its model,
// whatever their parent (every recorder of a tree of sites, recorders and
// cameras), up to `most` of them, `index`'s own left out.
QStringList levelTexts(const QModelIndex& index, int most = 400, int role = Qt::DisplayRole);
// An item's text shortened to the room its cell gives it (as the style lays
// the cell out), each of its lines told apart from the same line of the
// items beside it (with `acrossTree`, of every item at its depth).
void fitItemApart(QStyleOptionViewItem* option, const QModelIndex& index, bool acrossTree = false);

// The item painter of lists, tables and trees whose items are named alike:
// each text keeps what tells it from the items beside it where its cell is
// too narrow for it, and its whole text is its tool tip (leading the item's
// own tip, where it has one).
class ApartDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    // In a tree whose rows of one kind stand under different parents (a
    // site's recorders below another site's), each is told apart from every
    // row at its depth: they read one under the other all the same.
    void setAcrossTree(bool across) { m_acrossTree = across; }

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;

private:
    bool m_acrossTree = false;
};

// Keeps a field at least as wide as its hint text needs (with its icons and
// padding), also after its style or font changes.
void fitPlaceholder(QLineEdit* edit);

// Keeps a drop-down at least as wide as its widest entry needs (with its
// padding and arrow), also after its style or font changes and, for entries
// added later, from its next show.
void fitToItems(QComboBox* combo);

// Keeps a drop-down's entries within `widest` pixels of text, so that it never
// grows past the column it stands in: an entry too long for it is shortened,
// keeping what tells it from the other entries, with its whole text as its
// tool tip (and the drop-down's, while it is the one chosen). Entries added
// later are shortened from the next call.
void fitItemsApart(QComboBox* combo, int widest);

// Keeps a date or time field at least as wide as the widest text its format
// can show (the longest day and month names) plus its padding and buttons,
// also after its style or font changes; a smaller minimum width set before
// stays as a floor.
void fitToWidestText(QDateTimeEdit* edit);
// That width, for the field as it is styled now.
int widestTextWidth(const QDateTimeEdit* edit);

} // namespace kvr::ui

#include "native/screens/NativeStyle.h"

#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPointer>
#include <QStyle>

namespace kvr::screens {

namespace NativeStyle {

namespace {

constexpr const char* kChipWords[6] = {"pass", "fail", "warn", "info", "unknown", "poor"};

int chipIndex(Chip kind)
{
    const int i = int(kind);
    return (i >= 0 && i < 6) ? i : int(Chip::Unknown);
}

// Gives the fields of its root their hint colour as they are about to be
// drawn: the sheet sets the palette again at every polish, so the colour is
// checked where it is used.
class HintColours : public QObject {
public:
    static constexpr const char* kName = "NHintColours";

    explicit HintColours(QWidget* root) : QObject(root), m_root(root) { setObjectName(QLatin1String(kName)); }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::Paint)
            return false;
        auto* edit = qobject_cast<QLineEdit*>(watched);
        if (!edit || edit->placeholderText().isEmpty() || !within(edit))
            return false;
        QPalette palette = edit->palette();
        const QColor want = hintColour(palette.color(QPalette::Base));
        bool change = false;
        for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
            if (palette.color(group, QPalette::PlaceholderText) != want) {
                palette.setColor(group, QPalette::PlaceholderText, want);
                change = true;
            }
        }
        if (change)
            edit->setPalette(palette);
        return false;
    }

private:
    // Within the root, also through the dialogs it is the parent of.
    bool within(const QWidget* w) const
    {
        for (; w; w = w->parentWidget())
            if (w == m_root)
                return true;
        return false;
    }

    QPointer<QWidget> m_root;
};

} // namespace

QColor hintColour(const QColor& ground)
{
    return ground.lightness() >= 128 ? kMuted : token("vMuted");
}

void keepHintsReadable(QWidget* root)
{
    if (!root || !qApp || root->findChild<QObject*>(QLatin1String(HintColours::kName), Qt::FindDirectChildrenOnly))
        return; // once for each root
    qApp->installEventFilter(new HintColours(root));
}

void repolish(QWidget* w)
{
    if (!w)
        return;
    w->style()->unpolish(w);
    w->style()->polish(w);
    w->update();
}

const char* chipWord(Chip kind)
{
    return kChipWords[chipIndex(kind)];
}

QColor chipFill(Chip kind)
{
    switch (Chip(chipIndex(kind))) {
    case Chip::Pass:
        return QColor(kSuccess.red(), kSuccess.green(), kSuccess.blue(), 31);
    case Chip::Fail:
    case Chip::Poor:
        return QColor(kDanger.red(), kDanger.green(), kDanger.blue(), 31);
    case Chip::Warn:
        return QColor(kWarning.red(), kWarning.green(), kWarning.blue(), 36);
    case Chip::Info:
        return QColor(kInfo.red(), kInfo.green(), kInfo.blue(), 31);
    case Chip::Unknown:
        break;
    }
    return token("light");
}

QColor chipTextColor(Chip kind)
{
    switch (Chip(chipIndex(kind))) {
    case Chip::Pass:
        return kSuccess;
    case Chip::Fail:
        return kDanger;
    case Chip::Warn:
        return kWarnText;
    case Chip::Info:
        return token("infoText");
    case Chip::Poor:
        return token("poorText");
    case Chip::Unknown:
        break;
    }
    return token("chipText");
}

namespace {

constexpr char kChipCaption[] = "chipCaption";

void nameChip(QLabel* label)
{
    const QString caption = label->property(kChipCaption).toString();
    if (!caption.isEmpty())
        label->setAccessibleName(QStringLiteral("%1: %2").arg(caption, label->text()));
}

} // namespace

void setChip(QLabel* label, const QString& text, Chip kind)
{
    if (!label)
        return;
    label->setText(text);
    label->setProperty("chip", QString::fromLatin1(chipWord(kind)));
    nameChip(label);
    repolish(label);
}

void captionChip(QLabel* label, const QString& caption)
{
    label->setProperty(kChipCaption, caption);
    nameChip(label);
}

QLabel* chip(const QString& text, Chip kind, QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setObjectName(QStringLiteral("NChip"));
    label->setAlignment(Qt::AlignCenter);
    label->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
    setChip(label, text, kind);
    return label;
}

// ---- DiscDot -------------------------------------------------------------------

DiscDot::DiscDot(Disc state, QWidget* parent) : QWidget(parent), m_state(state)
{
    setFixedSize(10, 10);
}

void DiscDot::setState(Disc state)
{
    if (state == m_state)
        return;
    m_state = state;
    update();
}

void DiscDot::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QPointF centre(width() / 2.0, height() / 2.0);
    if (m_state == Disc::Unknown) {
        p.setPen(QPen(kUnknownBorder, 1.5));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(centre, 3.25, 3.25);
        return;
    }
    p.setPen(Qt::NoPen);
    p.setBrush(m_state == Disc::Up ? kSuccess : kDanger);
    p.drawEllipse(centre, 4.0, 4.0);
}

} // namespace NativeStyle

} // namespace kvr::screens

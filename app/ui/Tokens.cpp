#include "app/ui/Theme.h"

#include <QRegularExpression>

#include <array>

namespace kvr::ui {

namespace Theme {

namespace {

// One entry per Colour, in its order; a missing entry fails the build.
constexpr std::array<Token, kColourCount> kTokens{{
    {"backdrop", 0x0b0f14},       // behind video; window background
    {"surface", 0x11161d},        // top bar, side panes, cards, tables
    {"surfaceList", 0x11161e},    // preset list
    {"field", 0x161c25},          // inputs, dialogs, menus
    {"fieldFocus", 0x1a212c},     // focused sign-in field
    {"combo", 0x141a23},          // drop-down boxes
    {"raised", 0x1c2430},         // secondary buttons, tool tips, hovered rows
    {"raisedDisabled", 0x151b24}, // disabled secondary buttons
    {"line", 0x1b2330},           // dividers, card and tile borders
    {"rowLine", 0x1f2733},        // channel row border
    {"border", 0x243040},         // field borders
    {"borderStrong", 0x2a3646},   // hovered borders, check boxes, scroll handles
    {"borderHover", 0x33445a},    // hovered drop-down border
    {"scrollHover", 0x3a4a60},    // hovered scroll handle
    {"text", 0xe8ecf2},           // body text
    {"textSoft", 0xcfd6e2},       // labels, tree items
    {"muted", 0x8a96a8},          // secondary text, idle state
    {"faint", 0x5b6677},          // disabled text, idle ring
    {"disabled", 0x4a5568},       // unavailable calendar days
    {"white", 0xffffff},          // headings, text on accent
    {"black", 0x000000},          // shades over video
    {"accent", 0x3b82f6},         // active state, primary buttons
    {"accentHover", 0x5b9bff},    // hovered primary button
    {"accentPressed", 0x2f6fdb},  // pressed primary button
    {"accentText", 0x7fb0ff},     // text in accent tint
    {"live", 0xf2555a},           // live, errors, danger
    {"liveText", 0xff8a8e},       // text in live tint
    {"online", 0x34c77b},         // online state
    {"onlineText", 0x5fe0a0},     // text in online tint
    {"cloud", 0x8b7cf6},          // cloud playback
    {"cloudText", 0xb3a8ff},      // text in cloud tint
    {"brandNavy", 0x0b1d3a},      // brand backdrop, top-left of its gradient
    {"brandInk", 0x070b14},       // brand backdrop, bottom-right of its gradient
    {"brandTeal", 0x1fb2c6},      // brand backdrop, second glow
    {"tint", 0x1c2a3f},           // wall set-up: a display with cameras, a filled cell
    {"well", 0x05070a},           // wall set-up: the recess behind a layout preview
    {"offlineRow", 0x6b7688},     // catalogue rows of devices and channels known to be offline
    {"healthPass", 0x28a745},     // health check passed
    {"healthFail", 0xdc3545},     // health check failed
    {"healthUnknown", 0x495057},  // health check without a result
    {"warning", 0xf5c26b},        // works, with a caveat (a relay whose video is unreachable)
    {"danger", 0xdc3545},         // a button that throws something away (white on it reads at 4.5:1)
    {"focusRing", 0x7fb0ff},      // the ring around what holds the keyboard's focus
}};
static_assert(kTokens.back().name != nullptr, "one token per colour");

} // namespace

std::span<const Token> tokens()
{
    return kTokens;
}

QColor colour(Colour c, qreal alpha)
{
    QColor out = QColor::fromRgb(kTokens[size_t(c)].rgb);
    out.setAlphaF(float(qBound(0.0, alpha, 1.0)));
    return out;
}

QString expandTokens(const QString& sheet, std::span<const Token> table)
{
    static const QRegularExpression kRef(QStringLiteral("@([A-Za-z][A-Za-z0-9]*)(?:/([0-9]*\\.?[0-9]+))?"));
    QString out;
    out.reserve(sheet.size() + sheet.size() / 4);
    qsizetype last = 0;
    for (auto it = kRef.globalMatch(sheet); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        const QString name = m.captured(1);
        const Token* found = nullptr;
        for (const Token& t : table) {
            if (name == QLatin1String(t.name)) {
                found = &t;
                break;
            }
        }
        out += QStringView(sheet).mid(last, m.capturedStart() - last);
        last = m.capturedEnd();
        if (!found) {
            out += m.captured();
            continue;
        }
        const QColor c = QColor::fromRgb(found->rgb);
        if (m.captured(2).isEmpty())
            out += c.name(QColor::HexRgb);
        else
            out += QStringLiteral("rgba(%1, %2, %3, %4)").arg(c.red()).arg(c.green()).arg(c.blue()).arg(m.captured(2));
    }
    out += QStringView(sheet).mid(last);
    return out;
}

} // namespace Theme

} // namespace kvr::ui

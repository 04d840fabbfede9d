#include "native/screens/NoticeStrip.h"

#include "app/ui/Theme.h"
#include "native/screens/NativeStyle.h"
#include "native/screens/NativeUi.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

using namespace kvr::ui;

namespace kvr::screens {

NoticeStrip::NoticeStrip(QWidget* parent) : QFrame(parent)
{
    setObjectName(QStringLiteral("NNotice"));
    setAttribute(Qt::WA_StyledBackground);
    setStyleSheet(Theme::expandTokens(QStringLiteral("QFrame#NNotice { background: @warning/0.14; border: 1px solid "
                                                     "@warning/0.6; border-radius: 10px; }"
                                                     "QFrame#NNotice QLabel { color: @warnText; }"),
                                      NativeStyle::tokens()));
    auto* h = new QHBoxLayout(this);
    h->setContentsMargins(14, 10, 10, 10);
    h->setSpacing(10);
    m_label = new QLabel;
    m_label->setWordWrap(true);
    m_label->setTextFormat(Qt::PlainText);
    m_label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    h->addWidget(m_label, 1);
    m_dismiss = NativeUi::button(QStringLiteral("Dismiss"), "NText");
    m_dismiss->setAccessibleName(QStringLiteral("Dismiss the notice"));
    h->addWidget(m_dismiss, 0, Qt::AlignTop);
    connect(m_dismiss, &QPushButton::clicked, this, [this] {
        m_lines.clear();
        show();
    });
    setVisible(false);
}

void NoticeStrip::say(const QString& topic, const QString& text)
{
    if (text.isEmpty())
        m_lines.remove(topic);
    else
        m_lines.insert(topic, text);
    show();
}

void NoticeStrip::show()
{
    const QString text = lines().join(QLatin1Char('\n'));
    m_label->setText(text);
    setAccessibleDescription(text);
    setVisible(!m_lines.isEmpty());
}

} // namespace kvr::screens

#include "app/ui/EmptyStateView.hpp"

#include "app/model/AppModel.hpp"
#include "app/ui/Symbol.hpp"
#include "app/ui/TextStyle.hpp"
#include "core/building/Wording.hpp"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace korvel {

EmptyStateView::EmptyStateView(AppModel& model, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_title(new QLabel(this))
    , m_text(new QLabel(QString::fromStdString(Wording::text(Wording::Text::OwnAppEmptyState)), this))
    , m_create(new QPushButton("Create a Profile", this))
    , m_reason(new QLabel(this))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(40, 40, 40, 40);
    layout->setSpacing(14);
    layout->addStretch(1);

    auto* symbol = new QLabel(this);
    TextStyle::followPalette(symbol, [symbol](const QPalette& palette) {
        symbol->setPixmap(Symbol::pixmap(
            Symbol::Name::PersonTwoCircle, TextStyle::secondary(palette), 52 * 1.2, symbol->devicePixelRatioF()));
    });
    symbol->setAlignment(Qt::AlignCenter);
    layout->addWidget(symbol);

    TextStyle::apply(m_title, TextStyle::Font::Title2);
    m_title->setAlignment(Qt::AlignCenter);
    layout->addWidget(m_title);

    TextStyle::apply(m_text, TextStyle::Font::Body, true);
    m_text->setAlignment(Qt::AlignCenter);
    layout->addWidget(m_text);

    QFont large = m_create->font();
    large.setPointSizeF(large.pointSizeF() * 1.15);
    m_create->setFont(large);
    m_create->setMinimumHeight(32);
    m_create->setDefault(true);
    connect(m_create, &QPushButton::clicked, this, [this] { m_model.setShowNewProfile(true); });
    layout->addWidget(m_create, 0, Qt::AlignCenter);
    m_reason->setWordWrap(true);
    m_reason->setTextFormat(Qt::PlainText);
    m_reason->setAlignment(Qt::AlignCenter);
    TextStyle::apply(m_reason, TextStyle::Font::Callout);
    TextStyle::setTextColor(m_reason, TextStyle::orange());
    layout->addWidget(m_reason);
    layout->addStretch(1);
    render();
}

void EmptyStateView::render()
{
    const bool noProfiles = m_model.profiles().empty();
    m_title->setText(noProfiles ? "No profiles yet" : "Select a profile");
    m_create->setVisible(noProfiles);
    const auto blocked = m_model.creationBlocked();
    m_create->setEnabled(!blocked);
    m_create->setToolTip(blocked ? QString::fromStdString(*blocked) : QString());
    m_reason->setText(blocked ? QString::fromStdString(*blocked) : QString());
    m_reason->setVisible(noProfiles && blocked);
}

QString EmptyStateView::reason() const
{
    return m_reason->isHidden() ? QString() : m_reason->text();
}

QString EmptyStateView::title() const
{
    return m_title->text();
}

QString EmptyStateView::text() const
{
    return m_text->text();
}

} // namespace korvel

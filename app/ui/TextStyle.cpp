#include "app/ui/TextStyle.hpp"

#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QPalette>
#include <QPointer>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

namespace korvel {
namespace {

QFont scaled(double factor, QFont::Weight weight)
{
    QFont font = QApplication::font();
    if (font.pointSizeF() > 0)
        font.setPointSizeF(font.pointSizeF() * factor);
    else
        font.setPixelSize(static_cast<int>(font.pixelSize() * factor));
    font.setWeight(weight);
    return font;
}

// The one watcher of the application's palette: restyles every registered widget that still exists once a change
// of the palette has reached the widgets.
class PaletteWatcher : public QObject
{
public:
    static PaletteWatcher& instance()
    {
        static PaletteWatcher* watcher = nullptr;
        if (!watcher) {
            watcher = new PaletteWatcher(qApp);
            qApp->installEventFilter(watcher);
        }
        return *watcher;
    }

    void add(QWidget* widget, std::function<void(const QPalette&)> restyle)
    {
        restyle(QApplication::palette(widget));
        m_followers.emplace_back(widget, std::move(restyle));
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == qApp && event->type() == QEvent::ApplicationPaletteChange)
            QTimer::singleShot(0, this, [this] { restyleAll(); });
        return false;
    }

private:
    using QObject::QObject;

    void restyleAll()
    {
        std::erase_if(m_followers, [](const auto& follower) { return follower.first.isNull(); });
        for (const auto& [widget, restyle] : m_followers)
            restyle(QApplication::palette(widget));
    }

    std::vector<std::pair<QPointer<QWidget>, std::function<void(const QPalette&)>>> m_followers;
};

double luminance(const QColor& color)
{
    const auto linear = [](double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    return 0.2126 * linear(color.redF()) + 0.7152 * linear(color.greenF()) + 0.0722 * linear(color.blueF());
}

double contrast(const QColor& a, const QColor& b)
{
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

} // namespace

QFont TextStyle::font(Font style)
{
    switch (style) {
    case Font::Title2:
        return scaled(1.4, QFont::DemiBold);
    case Font::Title3:
        return scaled(1.2, QFont::Normal);
    case Font::Headline:
        return scaled(1.0, QFont::Bold);
    case Font::Callout:
        return scaled(0.95, QFont::Normal);
    case Font::Caption:
        return scaled(0.85, QFont::Normal);
    case Font::CaptionBold:
        return scaled(0.85, QFont::Bold);
    case Font::Body:
        break;
    }
    return QApplication::font();
}

QColor TextStyle::secondary(const QPalette& palette)
{
    QColor color = palette.color(QPalette::WindowText);
    color.setAlphaF(0.55);
    return color;
}

QColor TextStyle::accent(const QPalette& palette)
{
    return palette.color(QPalette::Highlight);
}

QColor TextStyle::orange()
{
    return QColor(232, 124, 22);
}

QColor TextStyle::green()
{
    return QColor(52, 199, 89);
}

QColor TextStyle::standingOut(QColor color, const QColor& against, double ratio)
{
    const bool darken = luminance(against) > luminance(color) || luminance(against) > 0.5;
    for (int step = 0; step < 40 && contrast(color, against) < ratio; ++step)
        color = darken ? color.darker(108) : color.lighter(108);
    return color;
}

QColor TextStyle::readableHighlight(const QPalette& palette)
{
    return standingOut(palette.color(QPalette::Highlight), palette.color(QPalette::HighlightedText), 4.5);
}

void TextStyle::useReadableHighlight(QWidget* view)
{
    followPalette(view, [view](const QPalette& palette) {
        QPalette readable = view->palette();
        for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive})
            readable.setColor(group, QPalette::Highlight, readableHighlight(palette));
        view->setPalette(readable);
    });
}

QColor TextStyle::focusRing(const QPalette& palette)
{
    return standingOut(palette.color(QPalette::Highlight), palette.color(QPalette::Window), 3.5);
}

void TextStyle::followPalette(QWidget* widget, std::function<void(const QPalette&)> restyle)
{
    PaletteWatcher::instance().add(widget, std::move(restyle));
}

void TextStyle::apply(QWidget* widget, Font style, bool secondaryColor)
{
    widget->setFont(font(style));
    if (secondaryColor)
        followPalette(widget, [widget](const QPalette& palette) { setTextColor(widget, secondary(palette)); });
}

void TextStyle::setTextColor(QWidget* widget, const QColor& color)
{
    // Active and inactive only: a disabled widget keeps the desktop's disabled look.
    QPalette palette = widget->palette();
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        for (const QPalette::ColorRole role : {QPalette::WindowText, QPalette::ButtonText, QPalette::Text})
            palette.setColor(group, role, color);
    }
    widget->setPalette(palette);
}

QVBoxLayout* TextStyle::heading(const QString& title, const QString& subtitle, QWidget* parent)
{
    auto* layout = new QVBoxLayout;
    layout->setSpacing(2);
    auto* titleLabel = new QLabel(title, parent);
    apply(titleLabel, Font::Title2);
    layout->addWidget(titleLabel);
    auto* subtitleLabel = new QLabel(subtitle, parent);
    apply(subtitleLabel, Font::Body, true);
    layout->addWidget(subtitleLabel);
    return layout;
}

} // namespace korvel

#include "app/ui/BadgePixmap.hpp"

#include "core/building/IconRenderer.hpp"

namespace korvel {

QImage BadgePixmap::image(const Bitmap& bitmap)
{
    if (bitmap.isEmpty())
        return {};
    const QImage view(reinterpret_cast<const uchar*>(bitmap.pixels()), bitmap.width(), bitmap.height(),
        bitmap.bytesPerLine(), QImage::Format_ARGB32_Premultiplied);
    return view.copy(); // the bitmap's storage does not outlive this call
}

QPixmap BadgePixmap::render(std::string_view letter, ProfileColor color, double points, double scale)
{
    QPixmap pixmap = QPixmap::fromImage(image(IconRenderer::badge(letter, color.rgb(), points).render(scale)));
    pixmap.setDevicePixelRatio(scale);
    return pixmap;
}

} // namespace korvel

#include "core/building/CairoCanvas.hpp"

#include "core/support/UnicodeText.hpp"

#include <cairo-ft.h>
#include <fontconfig/fontconfig.h>

#include <numbers>
#include <string>

namespace korvel {
namespace {

void setSource(cairo_t* cairo, Rgb color)
{
    cairo_set_source_rgb(cairo, color.red, color.green, color.blue);
}

// Unhinted outlines and metrics, so that the letter scales exactly with the icon.
void useExactFontMetrics(cairo_t* cairo)
{
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
    cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
    cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
    cairo_set_font_options(cairo, options);
    cairo_font_options_destroy(options);
}

constexpr const char* letterFont = "DejaVu Sans";

bool hasAll(FcPattern* font, const FcCharSet* wanted)
{
    FcCharSet* has = nullptr;
    return FcPatternGetCharSet(font, FC_CHARSET, 0, &has) == FcResultMatch && FcCharSetIsSubset(wanted, has);
}

// The first font in fontconfig's order for bold DejaVu Sans that has every character of `letter`: the font the
// desktop falls back to for a Chinese or Japanese letter. Nothing when bold DejaVu Sans (or what stands in for it)
// has them all, since cairo's own font selection draws those, or when no font has them.
cairo_font_face_t* fallbackFace(std::string_view letter)
{
    FcCharSet* wanted = FcCharSetCreate();
    for (size_t offset = 0; offset < letter.size();)
        FcCharSetAddChar(wanted, UnicodeText::decodeAt(letter, offset));
    const std::string name = std::string(letterFont) + ":bold";
    FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>(name.c_str()));
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    cairo_font_face_t* face = nullptr;
    FcResult result = FcResultNoMatch;
    FcPattern* first = FcFontMatch(nullptr, pattern, &result);
    if (!first || !hasAll(first, wanted)) {
        FcFontSet* fonts = FcFontSort(nullptr, pattern, FcFalse, nullptr, &result);
        for (int index = 0; fonts && index < fonts->nfont && !face; ++index) {
            if (hasAll(fonts->fonts[index], wanted)) {
                FcPattern* chosen = FcFontRenderPrepare(nullptr, pattern, fonts->fonts[index]);
                face = cairo_ft_font_face_create_for_pattern(chosen);
                FcPatternDestroy(chosen);
            }
        }
        if (fonts)
            FcFontSetDestroy(fonts);
    }
    if (first)
        FcPatternDestroy(first);
    FcPatternDestroy(pattern);
    FcCharSetDestroy(wanted);
    return face;
}

// cairo's filter looks at no more than 16 source pixels per output pixel and would alias beyond that,
// so large reductions first go through halved copies until at most 4× is left.
Bitmap halved(const Bitmap& image)
{
    const int width = (image.width() + 1) / 2;
    const int height = (image.height() + 1) / 2;
    CairoCanvas canvas(width, height);
    canvas.drawImage(image, {0, 0, double(width), double(height)});
    return canvas.finish().value_or(Bitmap());
}

} // namespace

CairoCanvas::CairoCanvas(int width, int height, double scale)
    : m_bitmap(width, height)
    , m_heightInUnits(height / scale)
    , m_scale(scale)
{
    if (m_bitmap.isEmpty() || !(scale > 0))
        return;
    m_surface = cairo_image_surface_create_for_data(reinterpret_cast<unsigned char*>(m_bitmap.pixels()),
        CAIRO_FORMAT_ARGB32, width, height, m_bitmap.bytesPerLine());
    m_cairo = cairo_create(m_surface);
    cairo_scale(m_cairo, scale, scale);
    useExactFontMetrics(m_cairo);
}

CairoCanvas::~CairoCanvas()
{
    if (m_cairo)
        cairo_destroy(m_cairo);
    if (m_surface)
        cairo_surface_destroy(m_surface);
}

bool CairoCanvas::isValid() const
{
    return m_cairo && cairo_status(m_cairo) == CAIRO_STATUS_SUCCESS;
}

void CairoCanvas::drawImage(const Bitmap& image, const Rect& rect)
{
    if (!isValid() || image.isEmpty())
        return;
    if (image.width() > 4 * rect.width * m_scale && image.height() > 4 * rect.height * m_scale) {
        const Bitmap smaller = halved(image);
        if (!smaller.isEmpty())
            drawImage(smaller, rect);
        return;
    }
    // cairo only reads the source pixels.
    cairo_surface_t* source = cairo_image_surface_create_for_data(
        reinterpret_cast<unsigned char*>(const_cast<std::uint32_t*>(image.pixels())), CAIRO_FORMAT_ARGB32,
        image.width(), image.height(), image.bytesPerLine());
    cairo_save(m_cairo);
    cairo_rectangle(m_cairo, rect.x, top(rect), rect.width, rect.height);
    cairo_clip(m_cairo);
    cairo_translate(m_cairo, rect.x, top(rect));
    cairo_scale(m_cairo, rect.width / image.width(), rect.height / image.height());
    cairo_set_source_surface(m_cairo, source, 0, 0);
    cairo_pattern_t* pattern = cairo_get_source(m_cairo);
    cairo_pattern_set_filter(pattern, CAIRO_FILTER_GOOD);
    cairo_pattern_set_extend(pattern, CAIRO_EXTEND_PAD);
    cairo_paint(m_cairo);
    cairo_restore(m_cairo);
    cairo_surface_destroy(source);
}

void CairoCanvas::fillEllipse(const Rect& rect, Rgb color)
{
    if (!isValid() || !(rect.width > 0 && rect.height > 0))
        return;
    cairo_save(m_cairo);
    cairo_translate(m_cairo, rect.x + rect.width / 2, top(rect) + rect.height / 2);
    cairo_scale(m_cairo, rect.width / 2, rect.height / 2);
    cairo_arc(m_cairo, 0, 0, 1, 0, 2 * std::numbers::pi);
    cairo_restore(m_cairo);
    setSource(m_cairo, color);
    cairo_fill(m_cairo);
}

void CairoCanvas::fillRoundedRect(const Rect& rect, double radius, Rgb topColor, Rgb bottomColor)
{
    if (!isValid())
        return;
    const double left = rect.x;
    const double upper = top(rect);
    const double right = left + rect.width;
    const double lower = upper + rect.height;
    const double quarter = std::numbers::pi / 2;
    cairo_new_path(m_cairo);
    cairo_arc(m_cairo, right - radius, upper + radius, radius, -quarter, 0);
    cairo_arc(m_cairo, right - radius, lower - radius, radius, 0, quarter);
    cairo_arc(m_cairo, left + radius, lower - radius, radius, quarter, 2 * quarter);
    cairo_arc(m_cairo, left + radius, upper + radius, radius, 2 * quarter, 3 * quarter);
    cairo_close_path(m_cairo);
    cairo_pattern_t* gradient = cairo_pattern_create_linear(0, upper, 0, lower);
    cairo_pattern_add_color_stop_rgb(gradient, 0, topColor.red, topColor.green, topColor.blue);
    cairo_pattern_add_color_stop_rgb(gradient, 1, bottomColor.red, bottomColor.green, bottomColor.blue);
    cairo_set_source(m_cairo, gradient);
    cairo_fill(m_cairo);
    cairo_pattern_destroy(gradient);
}

void CairoCanvas::drawLetter(std::string_view letter, const Rect& disc)
{
    if (!isValid() || letter.empty())
        return;
    const std::string text(letter);
    if (cairo_font_face_t* fallback = fallbackFace(letter)) {
        cairo_set_font_face(m_cairo, fallback);
        cairo_font_face_destroy(fallback); // the context holds it now
    } else {
        cairo_select_font_face(m_cairo, letterFont, CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
    }
    cairo_set_font_size(m_cairo, 0.6 * disc.height);
    cairo_font_extents_t font;
    cairo_font_extents(m_cairo, &font);
    cairo_text_extents_t extents;
    cairo_text_extents(m_cairo, text.c_str(), &extents);

    // y upwards, with cairo's descent positive: box bottom = centre − (ascent + descent) / 2 − descent / 10,
    // and the baseline lies one descent above the box bottom.
    const double centerY = disc.y + disc.height / 2;
    const double baseline = centerY - (font.ascent + font.descent) / 2 - 0.1 * font.descent + font.descent;
    cairo_move_to(m_cairo, disc.x + (disc.width - extents.x_advance) / 2, m_heightInUnits - baseline);
    cairo_set_source_rgb(m_cairo, 1, 1, 1);
    cairo_show_text(m_cairo, text.c_str());
}

std::optional<Bitmap> CairoCanvas::finish()
{
    if (!isValid())
        return std::nullopt;
    cairo_surface_flush(m_surface);
    cairo_destroy(m_cairo);
    cairo_surface_destroy(m_surface);
    m_cairo = nullptr;
    m_surface = nullptr;
    return std::move(m_bitmap);
}

} // namespace korvel

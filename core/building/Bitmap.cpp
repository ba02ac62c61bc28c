#include "core/building/Bitmap.hpp"

#include <cairo.h>
#include <librsvg/rsvg.h>

#include <cstring>
#include <memory>
#include <stdexcept>

namespace korvel {
namespace {

struct SurfaceDeleter
{
    void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};
using Surface = std::unique_ptr<cairo_surface_t, SurfaceDeleter>;

constexpr std::string_view pngSignature("\x89PNG\r\n\x1a\n", 8);

std::uint32_t bigEndian32(std::string_view bytes, size_t at)
{
    std::uint32_t value = 0;
    for (size_t i = 0; i < 4; ++i)
        value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

cairo_status_t appendChunk(void* closure, const unsigned char* data, unsigned int length)
{
    static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
    return CAIRO_STATUS_SUCCESS;
}

cairo_status_t readChunk(void* closure, unsigned char* data, unsigned int length)
{
    auto* remaining = static_cast<std::string_view*>(closure);
    if (length > remaining->size())
        return CAIRO_STATUS_READ_ERROR;
    std::memcpy(data, remaining->data(), length);
    remaining->remove_prefix(length);
    return CAIRO_STATUS_SUCCESS;
}

std::uint8_t unpremultiply(std::uint32_t component, std::uint32_t alpha)
{
    return static_cast<std::uint8_t>((component * 255 + alpha / 2) / alpha);
}

// cairo hands back RGB24 for opaque PNGs; everything we keep is ARGB32.
Surface asArgb32(Surface surface)
{
    if (cairo_image_surface_get_format(surface.get()) == CAIRO_FORMAT_ARGB32)
        return surface;
    Surface converted(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, cairo_image_surface_get_width(surface.get()),
        cairo_image_surface_get_height(surface.get())));
    cairo_t* cr = cairo_create(converted.get());
    cairo_set_source_surface(cr, surface.get(), 0, 0);
    cairo_paint(cr);
    cairo_destroy(cr);
    cairo_surface_flush(converted.get());
    return converted;
}

// A copy of an ARGB32 image surface; nothing when it failed or is empty.
std::optional<Bitmap> fromSurface(cairo_surface_t* surface)
{
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS)
        return std::nullopt;
    Bitmap image(cairo_image_surface_get_width(surface), cairo_image_surface_get_height(surface));
    if (image.isEmpty())
        return std::nullopt;
    const unsigned char* row = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    for (int y = 0; y < image.height(); ++y, row += stride)
        std::memcpy(image.pixels() + static_cast<size_t>(y) * static_cast<size_t>(image.width()), row,
            static_cast<size_t>(image.bytesPerLine()));
    return image;
}

} // namespace

Bitmap::Bitmap(int width, int height)
{
    if (width < 1 || height < 1 || width > maxSide || height > maxSide)
        return;
    m_width = width;
    m_height = height;
    m_pixels.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
}

Bitmap::Rgba Bitmap::pixel(int x, int y) const
{
    if (x < 0 || y < 0 || x >= m_width || y >= m_height)
        throw std::out_of_range("pixel outside the bitmap");
    const std::uint32_t word = m_pixels[static_cast<size_t>(y) * static_cast<size_t>(m_width) + static_cast<size_t>(x)];
    const std::uint32_t alpha = word >> 24;
    if (alpha == 0)
        return {};
    return {unpremultiply((word >> 16) & 0xff, alpha), unpremultiply((word >> 8) & 0xff, alpha),
        unpremultiply(word & 0xff, alpha), static_cast<std::uint8_t>(alpha)};
}

std::optional<std::string> Bitmap::encodePng() const
{
    if (isEmpty())
        return std::nullopt;
    // cairo only reads the pixels while it writes the PNG.
    Surface surface(
        cairo_image_surface_create_for_data(reinterpret_cast<unsigned char*>(const_cast<std::uint32_t*>(pixels())),
            CAIRO_FORMAT_ARGB32, m_width, m_height, bytesPerLine()));
    std::string png;
    if (cairo_surface_write_to_png_stream(surface.get(), appendChunk, &png) != CAIRO_STATUS_SUCCESS)
        return std::nullopt;
    return png;
}

std::optional<Bitmap::Sides> Bitmap::pngSides(std::string_view png)
{
    if (png.size() < 24 || png.substr(0, 8) != pngSignature || png.substr(12, 4) != "IHDR")
        return std::nullopt;
    const std::uint32_t width = bigEndian32(png, 16);
    const std::uint32_t height = bigEndian32(png, 20);
    if (width < 1 || height < 1 || width > maxSide || height > maxSide)
        return std::nullopt;
    return Sides {static_cast<int>(width), static_cast<int>(height)};
}

std::optional<Bitmap> Bitmap::decodePng(std::string_view bytes)
{
    if (!pngSides(bytes))
        return std::nullopt;
    Surface surface(cairo_image_surface_create_from_png_stream(readChunk, &bytes));
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS)
        return std::nullopt;
    surface = asArgb32(std::move(surface));
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS)
        return std::nullopt;

    return fromSurface(surface.get());
}

std::optional<Bitmap> Bitmap::decodeSvg(std::string_view bytes, int side)
{
    GError* error = nullptr;
    RsvgHandle* handle = rsvg_handle_new_from_data(reinterpret_cast<const guint8*>(bytes.data()), bytes.size(), &error);
    g_clear_error(&error);
    if (!handle)
        return std::nullopt;
    Surface surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, side, side));
    cairo_t* context = cairo_create(surface.get());
    const RsvgRectangle viewport {0, 0, static_cast<double>(side), static_cast<double>(side)};
    const bool drawn = rsvg_handle_render_document(handle, context, &viewport, &error);
    g_clear_error(&error);
    cairo_destroy(context);
    g_object_unref(handle);
    if (!drawn)
        return std::nullopt;
    cairo_surface_flush(surface.get());
    return fromSurface(surface.get());
}

} // namespace korvel

#include "tests/support/DrawingCacheCleanup.hpp"

#include <cairo.h>
#include <fontconfig/fontconfig.h>

namespace korvel::test {

void DrawingCacheCleanup::TearDown()
{
    // cairo first: its font map holds fontconfig patterns.
    cairo_debug_reset_static_data();
    FcFini();
}

} // namespace korvel::test

#pragma once
// The drawing layer: bitmaps, device contexts, raster operations, regions,
// text and palettes (namespace platform::gdi). The widget that presents a
// control's bitmap is in GdiWindow.h.

#include "platform/GdiBitmap.h"
#include "platform/GdiDC.h"
#include "platform/GdiRegion.h"
#include "platform/GdiTypes.h"

#pragma once
// What drawing code needs from a control it draws on, without the widget:
// the control's canvas context and the two ways of getting pixels shown.

#include "platform/GdiDC.h"

namespace platform::gdi {

class CanvasTarget {
  public:
    virtual ~CanvasTarget() = default;
    // A context on the control's bitmap, for the control's whole life (a
    // resize selects the new bitmap into it).
    virtual HDC Canvas() = 0;
    // Shows pixels changed on the canvas outside a paint (rubber bands,
    // markers): they reach the screen with the next screen update.
    virtual void UpdateRect(const RECT& rect) = 0;
    // Asks for a repaint: the control's Paint runs before its next display.
    virtual void Invalidate() = 0;
};

}  // namespace platform::gdi

#pragma once
// The library's progress bar: blocks of 10 x (block height) pixels, 12 pixels
// apart, drawn with the owning control's canvas brush on its canvas. Long
// store operations (tile streams, tile-by-tile copies) advance it when they are
// given one. Without an owning control it only keeps its numbers.

#include "platform/GdiCanvas.h"
#include "platform/GdiTypes.h"

namespace quillor {

class Statusprogress {
  public:
    explicit Statusprogress(platform::gdi::CanvasTarget* owner = nullptr) : FOwner(owner) {}

    // Stores the maximum; no block is drawn yet.
    void Start(double maximum);
    // Draws the blocks up to the position (the last one again at the next step).
    void Step(double position);
    // Steps to the maximum, then clears the bar in the button-face colour and
    // sets the canvas brush back to navy.
    void Finish();

    platform::gdi::CanvasTarget* FOwner = nullptr;
    int FLeft = 0;                 // the bar's left x
    int FWidth = 0;                // the bar's width in pixels
    platform::gdi::RECT FBlock{};  // top and bottom are set by the creator
    double FMaximum = 0;
    int FDrawn = 0;  // blocks drawn
    double FPosition = 0;
};

}  // namespace quillor

#include "raster/Statusprogress.h"

#include <algorithm>
#include <cmath>

#include "platform/GdiDC.h"

namespace quillor {

namespace gdi = platform::gdi;

namespace {
constexpr int kBlockPitch = 12;  // a block is 10 pixels wide, 2 apart
constexpr gdi::COLORREF kButtonFace = gdi::RGB(240, 240, 240);
constexpr gdi::COLORREF kNavy = gdi::RGB(0, 0, 128);
}  // namespace

void Statusprogress::Start(double maximum) {
    FMaximum = maximum;
    FDrawn = 0;
}

void Statusprogress::Step(double position) {
    const int n = FMaximum > 0 ? int(std::trunc((FWidth - 6) * position / FMaximum)) : 0;
    FPosition = position;
    const int last = n / kBlockPitch - 1;
    if (FOwner == nullptr || last < FDrawn) {
        FDrawn = std::max(FDrawn, std::max(last, 0));
        return;
    }
    gdi::HDC canvas = FOwner->Canvas();
    const gdi::HBRUSH brush = gdi::GetCurrentBrush(canvas);
    gdi::RECT shown{FLeft + kBlockPitch * FDrawn, FBlock.top, FLeft, FBlock.bottom};
    for (int i = FDrawn; i <= last; ++i) {
        FBlock.left = FLeft + kBlockPitch * i;
        FBlock.right = FBlock.left + 9;
        gdi::FillRect(canvas, FBlock, brush);
        FDrawn = i;
        shown.right = FBlock.right;
    }
    FOwner->UpdateRect(shown);
}

void Statusprogress::Finish() {
    Step(FMaximum);
    if (FOwner != nullptr) {
        gdi::HDC canvas = FOwner->Canvas();
        const gdi::RECT bar{FLeft, FBlock.top, std::max(FLeft, FBlock.right), FBlock.bottom};
        gdi::FillRect(canvas, bar, gdi::CreateSolidBrush(kButtonFace));
        gdi::SelectObject(canvas, gdi::CreateSolidBrush(kNavy));
        FOwner->UpdateRect(bar);
    }
    FPosition = 0;
}

}  // namespace quillor

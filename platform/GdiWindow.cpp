#include "platform/GdiWindow.h"

#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>

namespace platform::gdi {

Window::Window(QWidget* parent) : QWidget(parent), canvas_(CreateCompatibleDC()) {
    // Every pixel comes from the bitmap; Qt need not clear the background.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

Window::~Window() = default;

void Window::EnsureBitmap() {
    const int w = width(), h = height();
    if (bitmap_ && bitmap_->Width() == w && bitmap_->Height() == h)
        return;
    HBITMAP fresh = w > 0 && h > 0 ? Bitmap::Create(w, h, 32) : nullptr;
    if (fresh && bitmap_) {
        // Keep what was drawn where the old and new areas overlap.
        const int cw = std::min(w, bitmap_->Width()), ch = std::min(h, bitmap_->Height());
        for (int y = 0; y < ch; ++y)
            std::copy_n(bitmap_->Row(y), std::size_t(cw) * 4, fresh->Row(y));
    }
    bitmap_ = fresh;
    if (bitmap_)
        SelectObject(canvas_.get(), bitmap_);
    else
        canvas_->state.bitmap.reset();
    paintPending_ = true;
}

HDC Window::Canvas() {
    EnsureBitmap();
    return canvas_.get();
}

void Window::UpdateRect(const RECT& r) {
    if (r.right > r.left && r.bottom > r.top)
        update(QRect(r.left, r.top, r.right - r.left, r.bottom - r.top));
}

void Window::Invalidate() {
    paintPending_ = true;
    update();
}

void Window::paintEvent(QPaintEvent* event) {
    EnsureBitmap();
    if (!bitmap_)
        return;
    if (paintPending_) {
        paintPending_ = false;
        Paint();
    }
    // Qt reads a 32-bit pixel's unused byte as alpha; the drawing layer
    // leaves it 0 (or whatever a raster operation made of it), so make the
    // area about to be shown opaque first.
    const QRect bounds(0, 0, bitmap_->Width(), bitmap_->Height());
    for (const QRect& r : event->region()) {
        const QRect c = r.intersected(bounds);
        for (int y = c.top(); y <= c.bottom(); ++y) {
            BYTE* p = bitmap_->Row(y) + std::size_t(c.left()) * 4 + 3;
            for (int x = 0; x < c.width(); ++x, p += 4)
                *p = 0xFF;
        }
    }
    QPainter painter(this);
    const QImage image = bitmap_->ImageView();
    for (const QRect& r : event->region())
        painter.drawImage(r, image, r);
}

void Window::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    // A new size brings a new bitmap, which marks the control for a repaint.
    EnsureBitmap();
}

}  // namespace platform::gdi

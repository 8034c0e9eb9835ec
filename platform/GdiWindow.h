#pragma once
// The presenting base of the controls: a widget whose pixels are one 32-bit
// bitmap, with a canvas context on it. Drawing on the canvas changes the
// bitmap; UpdateRect shows a changed area, Invalidate makes the next paint
// event run Paint first; the paint event itself only copies the bitmap.

#include <QWidget>

#include "platform/GdiCanvas.h"

namespace platform::gdi {

class Window : public QWidget, public CanvasTarget {
  public:
    explicit Window(QWidget* parent = nullptr);
    ~Window() override;

    HDC Canvas() override;
    void UpdateRect(const RECT& rect) override;
    void Invalidate() override;

    // The control's bitmap (null while the widget has no area).
    const HBITMAP& WindowBitmap() const { return bitmap_; }
    // Whether the next paint event runs Paint.
    bool PaintPending() const { return paintPending_; }

  protected:
    // Draws the whole control on Canvas(). Runs on the paint event that
    // follows an invalidation (a resize invalidates too).
    virtual void Paint() {}

    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void EnsureBitmap();

    HBITMAP bitmap_;
    DCPtr canvas_;
    bool paintPending_ = true;
};

}  // namespace platform::gdi

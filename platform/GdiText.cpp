// Text: Qt rasterises the glyphs, unsmoothed, into an 8-bit coverage image;
// covered pixels are then written in the text colour, so text looks the same
// on every depth.

#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include "platform/GdiInternal.h"

namespace platform::gdi {

using namespace detail;

namespace {

bool CanMeasure(HDC hdc) {
    return hdc && qGuiApp;
}

// The selected font, or the default one of a fresh context.
const QFont& FontOf(HDC hdc) {
    if (hdc->state.font)
        return hdc->state.font->QtFont();
    static const HFONT fallback = CreateFont(13, "Sans Serif");
    return fallback->QtFont();
}

}  // namespace

bool GetTextExtentPoint32(HDC hdc, const QString& text, SIZE* size) {
    if (!CanMeasure(hdc) || !size)
        return false;
    const QFontMetrics fm(FontOf(hdc));
    *size = {fm.horizontalAdvance(text), fm.height()};
    return true;
}

bool GetTextExtentPoint32(HDC hdc, std::string_view utf8, SIZE* size) {
    return GetTextExtentPoint32(hdc, QString::fromUtf8(utf8.data(), qsizetype(utf8.size())), size);
}

bool GetTextMetrics(HDC hdc, TEXTMETRIC* tm) {
    if (!CanMeasure(hdc) || !tm)
        return false;
    const QFontMetrics fm(FontOf(hdc));
    tm->tmHeight = fm.height();
    tm->tmAscent = fm.ascent();
    tm->tmDescent = fm.descent();
    tm->tmAveCharWidth = fm.averageCharWidth();
    tm->tmMaxCharWidth = fm.maxWidth();
    return true;
}

bool TextOut(HDC hdc, int x, int y, const QString& text) {
    if (!CanMeasure(hdc) || !hdc->Target())
        return false;
    if (text.isEmpty())
        return true;
    Bitmap& bm = *hdc->Target();
    const QFont& font = FontOf(hdc);
    const QFontMetrics fm(font);
    const int width = fm.horizontalAdvance(text), height = fm.height(), ascent = fm.ascent();
    if (width <= 0 || height <= 0)
        return true;

    // The text's cell from the reference point and the alignment.
    const UINT align = hdc->state.textAlign;
    std::int64_t left = x, top = y;
    if ((align & TA_CENTER) == TA_CENTER)
        left -= width / 2;
    else if (align & TA_RIGHT)
        left -= width;
    if ((align & TA_BASELINE) == TA_BASELINE)
        top -= ascent;
    else if (align & TA_BOTTOM)
        top -= height;
    if (left < -(std::int64_t(1) << 30) || top < -(std::int64_t(1) << 30) ||
        left > (std::int64_t(1) << 30) || top > (std::int64_t(1) << 30))
        return true;  // nowhere near the bitmap
    const QRect cell(int(left), int(top), width, height);
    const QRect visible = cell.intersected(QRect(0, 0, bm.Width(), bm.Height()));
    if (visible.isEmpty())
        return true;

    if (hdc->state.bkMode == OPAQUE) {
        SpanSet bg;
        for (int row = visible.top(); row <= visible.bottom(); ++row)
            bg.Add(row, visible.left(), visible.right() + 1);
        bg.Normalize();
        PaintSpans(*hdc, bg, RealizeSolid(ResolveColor(*hdc, bm, hdc->state.bkColor)),
                   RopIndex(PATCOPY));
    }

    // Only the visible part of the cell is rasterised; glyph pixels outside
    // the cell are not drawn, so text stays inside its measured extent.
    QImage coverage(visible.size(), QImage::Format_Alpha8);
    if (coverage.isNull())
        return false;
    coverage.fill(0);
    {
        QPainter painter(&coverage);
        painter.setRenderHint(QPainter::TextAntialiasing, false);
        painter.setRenderHint(QPainter::Antialiasing, false);
        painter.setFont(font);
        painter.setPen(QColor(0, 0, 0, 255));
        painter.drawText(QPointF(double(cell.left() - visible.left()),
                                 double(cell.top() - visible.top() + ascent)),
                         text);
    }
    SpanSet ink;
    for (int row = 0; row < coverage.height(); ++row) {
        const uchar* c = coverage.constScanLine(row);
        int run = -1;
        for (int col = 0; col <= coverage.width(); ++col) {
            const bool on = col < coverage.width() && c[col] >= 128;
            if (on && run < 0)
                run = col;
            if (!on && run >= 0) {
                ink.Add(visible.top() + row, visible.left() + run, visible.left() + col);
                run = -1;
            }
        }
    }
    ink.Normalize();
    PaintSpans(*hdc, ink, RealizeSolid(ResolveColor(*hdc, bm, hdc->state.textColor)),
               RopIndex(PATCOPY));
    return true;
}

bool TextOut(HDC hdc, int x, int y, std::string_view utf8) {
    return TextOut(hdc, x, y, QString::fromUtf8(utf8.data(), qsizetype(utf8.size())));
}

}  // namespace platform::gdi

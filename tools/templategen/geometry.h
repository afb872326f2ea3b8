// Millimetre geometry shared by the background drawing and the field placement of every form.
#pragma once

#include <QPointF>
#include <QRectF>

namespace geo {
constexpr double paperWidth = 297.0; // A4 landscape
constexpr double paperHeight = 210.0;
constexpr double halfWidth = paperWidth / 2.0; // the fold
constexpr double centre = halfWidth / 2.0;     // middle of one A5 page

// Guilloche border band of every A5 page, measured from the page edges.
constexpr double frameOuter = 6.0;
constexpr double frameInner = 11.0;

// Data area of an A5 page: clear of the border band, the paper edges and the fold.
constexpr double left = 14.0;
constexpr double right = halfWidth - 14.0;
constexpr double top = 14.0;
constexpr double bottom = 196.0;
constexpr double width = right - left;

// Clearance every data field keeps from the paper edges and from the fold.
constexpr double clearance = 8.0;

// Background images: A4 landscape at about 120 dpi.
constexpr int imageWidth = 1403;
constexpr int imageHeight = 992;
constexpr double pxPerMmX = imageWidth / paperWidth;
constexpr double pxPerMmY = imageHeight / paperHeight;
} // namespace geo

enum class Half { Left, Right };

// One A5 page of the folded sheet: a side of the sheet and its half. Layout code works in
// page-local millimetres (u across from the page's left edge, v down from the paper's top).
struct Page {
    int side = 0;
    Half half = Half::Left;
};

inline double pageLeft(Page page) {
    return page.half == Half::Right ? geo::halfWidth : 0.0;
}

// Template coordinates: the sides form one vertical strip, side n starting n paper heights down.
inline QRectF sheetRect(Page page, const QRectF& local) {
    return local.translated(pageLeft(page), page.side * geo::paperHeight);
}

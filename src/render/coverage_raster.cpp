#include "render/coverage_raster.h"

#include <algorithm>
#include <cmath>

void CoverageRaster::rasterise(const PolygonSet& shape, const RECT& clip) {
    float minX = 0, maxX = 0, minY = 0, maxY = 0;
    bool any = false;
    for (const auto& polygon : shape.polygons) {
        for (const RasterPoint& p : polygon) {
            if (!any) {
                minX = maxX = p.x, minY = maxY = p.y;
                any = true;
            }
            minX = std::min(minX, p.x), maxX = std::max(maxX, p.x);
            minY = std::min(minY, p.y), maxY = std::max(maxY, p.y);
        }
    }
    clipLeft_ = std::max(static_cast<int>(clip.left), any ? static_cast<int>(std::floor(minX)) : 0);
    clipRight_ = std::min(static_cast<int>(clip.right), any ? static_cast<int>(std::ceil(maxX)) + 1 : 0);
    const int top = std::max(static_cast<int>(clip.top), any ? static_cast<int>(std::floor(minY)) : 0);
    const int bottom = std::min(static_cast<int>(clip.bottom), any ? static_cast<int>(std::ceil(maxY)) : 0);
    if (!any || clipLeft_ >= clipRight_ || top >= bottom) {
        rows_ = 0;
        return;
    }
    reset(minX, maxX, top, bottom);
    for (const auto& polygon : shape.polygons) addPolygon(polygon.data(), polygon.size());
}

void CoverageRaster::reset(float minX, float maxX, int rowTop, int rowBottom) {
    left_ = static_cast<int>(std::floor(minX));
    width_ = static_cast<int>(std::ceil(maxX)) - left_ + 3;
    top_ = rowTop;
    rows_ = std::max(0, rowBottom - rowTop);
    cells_.assign(static_cast<size_t>(rows_) * std::max(width_, 0), 0.0f);
}

void CoverageRaster::addPolygon(const RasterPoint* points, size_t count) {
    if (count < 3 || rows_ <= 0) return;
    double area = 0;
    for (size_t i = 0; i < count; ++i) {
        const RasterPoint& a = points[i];
        const RasterPoint& b = points[(i + 1) % count];
        area += static_cast<double>(a.x) * b.y - static_cast<double>(b.x) * a.y;
    }
    const float sign = area < 0 ? -1.0f : 1.0f;
    for (size_t i = 0; i < count; ++i) addLine(points[i], points[(i + 1) % count], sign);
}

// Signed-area accumulation: each edge deposits, per row it crosses, the area to its right into
// the cells it touches; a running sum along the row then yields each pixel's coverage.
void CoverageRaster::addLine(RasterPoint a, RasterPoint b, float sign) {
    if (a.y == b.y) return;
    float direction = sign;
    if (a.y > b.y) {
        std::swap(a, b);
        direction = -direction;
    }
    a.x -= static_cast<float>(left_);
    b.x -= static_cast<float>(left_);
    a.y -= static_cast<float>(top_);
    b.y -= static_cast<float>(top_);
    const float dxdy = (b.x - a.x) / (b.y - a.y);
    const int firstRow = std::max(0, static_cast<int>(std::floor(a.y)));
    const int endRow = std::min(rows_, static_cast<int>(std::ceil(b.y)));
    for (int row = firstRow; row < endRow; ++row) {
        const float ya = std::max(static_cast<float>(row), a.y);
        const float yb = std::min(static_cast<float>(row + 1), b.y);
        if (yb <= ya) continue;
        const float d = (yb - ya) * direction;
        float x0 = a.x + (ya - a.y) * dxdy;
        float x1 = a.x + (yb - a.y) * dxdy;
        if (x0 > x1) std::swap(x0, x1);
        x0 = std::max(0.0f, x0);
        x1 = std::max(0.0f, x1);
        float* cell = &cells_[static_cast<size_t>(row) * width_];
        const float x0floor = std::floor(x0);
        const int x0i = static_cast<int>(x0floor);
        const float x1ceil = std::ceil(x1);
        const int x1i = static_cast<int>(x1ceil);
        if (x0i + 1 >= width_) continue;
        if (x1i <= x0i + 1) {
            const float xmf = 0.5f * (x0 + x1) - x0floor;
            cell[x0i] += d - d * xmf;
            cell[x0i + 1] += d * xmf;
            continue;
        }
        const float s = 1.0f / (x1 - x0);
        const float x0f = x0 - x0floor;
        const float a0 = 0.5f * s * (1.0f - x0f) * (1.0f - x0f);
        const float x1f = x1 - x1ceil + 1.0f;
        const float am = 0.5f * s * x1f * x1f;
        cell[x0i] += d * a0;
        if (x1i == x0i + 2) {
            if (x0i + 1 < width_) cell[x0i + 1] += d * (1.0f - a0 - am);
        } else {
            const float a1 = s * (1.5f - x0f);
            cell[x0i + 1] += d * (a1 - a0);
            for (int xi = x0i + 2; xi < x1i - 1 && xi < width_; ++xi) cell[xi] += d * s;
            const float a2 = a1 + static_cast<float>(x1i - x0i - 3) * s;
            if (x1i - 1 < width_) cell[x1i - 1] += d * (1.0f - a2 - am);
        }
        if (x1i < width_) cell[x1i] += d * am;
    }
}

namespace {

constexpr float kMiterLimit = 10.0f;

RasterPoint offset(RasterPoint p, float nx, float ny) { return {p.x + nx, p.y + ny}; }

void addDisc(PolygonSet& shape, RasterPoint centre, float radius) {
    constexpr int kSides = 16;
    RasterPoint disc[kSides];
    for (int i = 0; i < kSides; ++i) {
        const float a = static_cast<float>(i) * 6.2831853f / kSides;
        disc[i] = {centre.x + radius * std::cos(a), centre.y + radius * std::sin(a)};
    }
    shape.add(disc, kSides);
}

// The wedge that fills the outer side of a corner between two segments meeting at v.
void addJoin(PolygonSet& shape, RasterPoint prev, RasterPoint v, RasterPoint next, float half) {
    float ux = v.x - prev.x, uy = v.y - prev.y;
    float wx = next.x - v.x, wy = next.y - v.y;
    const float ul = std::hypot(ux, uy), wl = std::hypot(wx, wy);
    if (ul <= 0 || wl <= 0) return;
    ux /= ul, uy /= ul, wx /= wl, wy /= wl;
    const float cross = ux * wy - uy * wx;
    if (std::fabs(cross) < 1e-4f && ux * wx + uy * wy > 0) return;  // straight on
    // Normals on the outer side of the turn.
    const float side = cross > 0 ? -1.0f : 1.0f;
    const float n1x = -uy * side * half, n1y = ux * side * half;
    const float n2x = -wy * side * half, n2y = wx * side * half;
    const RasterPoint a = offset(v, n1x, n1y), b = offset(v, n2x, n2y);
    float mx = n1x + n2x, my = n1y + n2y;
    const float ml = std::hypot(mx, my);
    const float cosHalf = ml / (2 * half);
    if (ml > 0 && cosHalf > 1.0f / kMiterLimit) {
        const float length = half / cosHalf;
        mx = mx / ml * length, my = my / ml * length;
        const RasterPoint wedge[4] = {v, a, offset(v, mx, my), b};
        shape.add(wedge, 4);
    } else {
        const RasterPoint bevel[3] = {v, a, b};
        shape.add(bevel, 3);
    }
}

}  // namespace

void strokePolyline(PolygonSet& shape, const std::vector<RasterPoint>& input, bool closed,
                    const StrokeStyle& style) {
    std::vector<RasterPoint> points;
    for (const RasterPoint& p : input)
        if (points.empty() || std::hypot(p.x - points.back().x, p.y - points.back().y) > 1e-4f) points.push_back(p);
    if (closed && points.size() > 2 &&
        std::hypot(points.front().x - points.back().x, points.front().y - points.back().y) <= 1e-4f) {
        points.pop_back();
    }
    const float half = style.width * 0.5f;
    if (points.size() < 2) {
        if (style.roundCaps && !points.empty()) addDisc(shape, points.front(), half);
        return;
    }
    const size_t n = points.size();
    const size_t segments = closed ? n : n - 1;
    for (size_t i = 0; i < segments; ++i) {
        const RasterPoint p = points[i], q = points[(i + 1) % n];
        const float len = std::hypot(q.x - p.x, q.y - p.y);
        const float nx = -(q.y - p.y) / len * half, ny = (q.x - p.x) / len * half;
        const RasterPoint quad[4] = {offset(p, nx, ny), offset(q, nx, ny), offset(q, -nx, -ny), offset(p, -nx, -ny)};
        shape.add(quad, 4);
    }
    for (size_t i = closed ? 0 : 1; i < (closed ? n : n - 1); ++i)
        addJoin(shape, points[(i + n - 1) % n], points[i], points[(i + 1) % n], half);
    if (!closed && style.roundCaps) {
        addDisc(shape, points.front(), half);
        addDisc(shape, points.back(), half);
    }
}

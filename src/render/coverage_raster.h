#pragma once
// Anti-aliased scan conversion: the exact area of each pixel covered by a set of polygons.
// Shapes are built from polygons of one orientation, so overlaps add up and are clamped to
// full coverage: the union of a stroke's segments and joins is blended once, never twice.
#include <windows.h>

#include <cstdint>
#include <vector>

struct RasterPoint {
    float x;
    float y;
};

// Closed polygons that together make one shape.
struct PolygonSet {
    std::vector<std::vector<RasterPoint>> polygons;
    void add(const RasterPoint* points, size_t count) { polygons.emplace_back(points, points + count); }
};

class CoverageRaster {
public:
    // Scan-converts the set within clip (pixel (x, y) is the unit square [x, x+1] x [y, y+1]);
    // each polygon's orientation is normalised so that every polygon counts positively.
    void rasterise(const PolygonSet& shape, const RECT& clip);
    // Calls visit(x, y, coverage) for every pixel inside the clip with coverage in (0, 1].
    template <typename Visit>
    void resolve(Visit visit) const {
        resolve(clipLeft_, clipRight_, visit);
    }

private:
    template <typename Visit>
    void resolve(int clipLeft, int clipRight, Visit visit) const;
    void reset(float minX, float maxX, int rowTop, int rowBottom);
    void addPolygon(const RasterPoint* points, size_t count);
    void addLine(RasterPoint a, RasterPoint b, float sign);

    int clipLeft_ = 0;
    int clipRight_ = 0;

    int left_ = 0;
    int width_ = 0;  // cells per row, two more than the pixels so spill-over has a place
    int top_ = 0;
    int rows_ = 0;
    std::vector<float> cells_;
};

template <typename Visit>
void CoverageRaster::resolve(int clipLeft, int clipRight, Visit visit) const {
    for (int row = 0; row < rows_; ++row) {
        const float* cell = &cells_[static_cast<size_t>(row) * width_];
        float sum = 0;
        for (int i = 0; i < width_; ++i) {
            sum += cell[i];
            const int x = left_ + i;
            if (x < clipLeft) continue;
            if (x >= clipRight) break;
            float coverage = sum < 0 ? -sum : sum;
            if (coverage > 1.0f) coverage = 1.0f;
            if (coverage > 0.002f) visit(x, top_ + row, coverage);
        }
    }
}

// Outline of a polyline of the given width as polygons: a quad per segment, a mitred wedge per
// corner (bevelled past a miter limit of 10) and, with round caps, a disc at each open end.
struct StrokeStyle {
    float width = 1.0f;
    bool roundCaps = false;
};
void strokePolyline(PolygonSet& shape, const std::vector<RasterPoint>& points, bool closed,
                    const StrokeStyle& style);

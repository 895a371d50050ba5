#pragma once
// The GDI+ flat API and move-only owners for the GDI+ objects painting creates per shape.
#include <windows.h>
#include <objidl.h>

#include <algorithm>

// The GDI+ headers use unqualified min and max, which NOMINMAX removes.
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <gdiplus.h>

#include "base/win_handles.h"

namespace gp {

using namespace Gdiplus::DllExports;
using Gdiplus::ARGB;
using Gdiplus::GpBitmap;
using Gdiplus::GpBrush;
using Gdiplus::GpGraphics;
using Gdiplus::GpImage;
using Gdiplus::GpImageAttributes;
using Gdiplus::GpPath;
using Gdiplus::GpPen;
using Gdiplus::GpStatus;

template <typename T, GpStatus(WINGDIPAPI* Release)(T*)>
struct GdiplusTraits {
    using Value = T*;
    static Value empty() { return nullptr; }
    static bool isValid(Value v) { return v != nullptr; }
    static void close(Value v) { Release(v); }
};

using UniquePath = qb::UniqueResource<GdiplusTraits<GpPath, GdipDeletePath>>;
using UniquePen = qb::UniqueResource<GdiplusTraits<GpPen, GdipDeletePen>>;
using UniqueBrush = qb::UniqueResource<GdiplusTraits<GpBrush, GdipDeleteBrush>>;
using UniqueImage = qb::UniqueResource<GdiplusTraits<GpImage, GdipDisposeImage>>;
using UniqueImageAttributes = qb::UniqueResource<GdiplusTraits<GpImageAttributes, GdipDisposeImageAttributes>>;
using UniqueGraphics = qb::UniqueResource<GdiplusTraits<GpGraphics, GdipDeleteGraphics>>;

}  // namespace gp

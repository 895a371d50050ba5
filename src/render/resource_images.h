#pragma once
// Pictures carried in the program's resources: PNG, decoded once and kept for the process; and the
// same pictures at the sizes the first frame draws them, as raw rows that need no decoder.
#include <cstdint>

#include "render/canvas.h"
#include "render/gdiplus_api.h"

constexpr int kLogoResource = 2;
constexpr int kDownloadPictureResource = 3;
constexpr int kLogoPixelsResource = 4;             // 46 x 46, BGRA rows with straight alpha
constexpr int kDownloadPicturePixelsResource = 5;  // 20 x 20, the same form
// The same at 150 % and 200 %: 69 and 92, 30 and 40 pixels.
constexpr int kLogoPixels150Resource = 6;
constexpr int kLogoPixels200Resource = 7;
constexpr int kDownloadPicturePixels150Resource = 8;
constexpr int kDownloadPicturePixels200Resource = 9;
constexpr int kLogoSize = 46;
constexpr int kDownloadPictureSize = 20;

// Straight-alpha BGRA rows (4 bytes a pixel) made into a premultiplied picture; empty unless
// byteCount is exactly width x height x 4.
Picture pictureFromRows(const uint8_t* bgra, size_t byteCount, int width, int height);
// A raw RCDATA resource of this program read by pictureFromRows; empty when missing or of another size.
Picture pictureFromResource(int resourceId, int width, int height);
// The two pictures at a drawn size in pixels, made once by the first caller of any thread and kept:
// from raw rows at 100, 150 and 200 %, else drawn from the PNG master at that size.
const Picture& logoPicture(int side = kLogoSize);
const Picture& downloadPicturePixels(int side = kDownloadPictureSize);
// A decoded image drawn into a side x side premultiplied picture; empty when GDI+ fails.
Picture pictureFromImage(gp::GpImage* image, int side);

// Decodes an RCDATA resource of this program into a GDI+ bitmap; null when missing or undecodable.
gp::GpImage* decodeResourceImage(int resourceId);

// The header logo (RCDATA 2); decoding is tried once, by the first caller of any thread, and the
// image is then only read; null when it failed.
gp::GpImage* logoImage();
// The picture of the download category (RCDATA 3); same rules.
gp::GpImage* downloadPictureImage();

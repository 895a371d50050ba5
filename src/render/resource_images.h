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
constexpr int kLogoSize = 46;
constexpr int kDownloadPictureSize = 20;

// Straight-alpha BGRA rows (4 bytes a pixel) made into a premultiplied picture; empty unless
// byteCount is exactly width x height x 4.
Picture pictureFromRows(const uint8_t* bgra, size_t byteCount, int width, int height);
// A raw RCDATA resource of this program read by pictureFromRows; empty when missing or of another size.
Picture pictureFromResource(int resourceId, int width, int height);
// The two pictures at their drawn sizes, read once by the first caller of any thread.
const Picture& logoPicture();
const Picture& downloadPicturePixels();

// Decodes an RCDATA resource of this program into a GDI+ bitmap; null when missing or undecodable.
gp::GpImage* decodeResourceImage(int resourceId);

// The header logo (RCDATA 2); decoding is tried once, by the first caller of any thread, and the
// image is then only read; null when it failed.
gp::GpImage* logoImage();
// The picture of the download category (RCDATA 3); same rules.
gp::GpImage* downloadPictureImage();

#pragma once
// PNG pictures carried in the program's resources, decoded once and kept for the process.
#include "render/gdiplus_api.h"

constexpr int kLogoResource = 2;
constexpr int kDownloadPictureResource = 3;

// Decodes an RCDATA resource of this program into a GDI+ bitmap; null when missing or undecodable.
gp::GpImage* decodeResourceImage(int resourceId);

// The header logo (RCDATA 2); decoding is tried once, by the first caller of any thread, and the
// image is then only read; null when it failed.
gp::GpImage* logoImage();
// The picture of the download category (RCDATA 3); same rules.
gp::GpImage* downloadPictureImage();

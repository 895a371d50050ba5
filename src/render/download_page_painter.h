#pragma once
// The download-manager page: heading, directory line and one row per download task.
#include "render/paint_cache.h"
#include "render/paint_context.h"

// Paints the page's content area from the paint's task snapshot; the static part of each row is
// its cached face, the progress bar and the status line are drawn over it. The page does not scroll.
void paintDownloadPage(PaintContext& ctx, FaceCache<RowFaceKey>& faces);

// Right edge of the blue part of a row's progress bar at percent.
int downloadRowProgressRight(int w, int percent);

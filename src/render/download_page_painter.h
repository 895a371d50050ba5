#pragma once
// The download-manager page: heading, directory line and one row per download task.
#include "render/paint_context.h"

// Paints the page's content area for client width w from the paint's task snapshot and records
// ClearCompleted, ChangeDir, OpenDir and the row buttons. The page does not scroll.
void PaintDownloadPage(PaintContext& ctx, int w);

// Right edge of the blue part of a row's progress bar at percent.
int downloadRowProgressRight(int w, int percent);

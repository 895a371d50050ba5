#pragma once
// The header band: gradient, logo, title, caption buttons, the two pills and the task badge.
#include <string>

#include "render/paint_context.h"

// The brand's horizontal gradient over `band` (the header, the settings window's strip).
void paintBrandGradient(Canvas& canvas, const RECT& band);

// Paints the header at the places the update step records its regions.
void paintHeader(PaintContext& ctx);

// The task badge's number: the tasks downloading.
int downloadingCount(const TaskMap& tasks);

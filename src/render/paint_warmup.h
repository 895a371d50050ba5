#pragma once
// The first paint of a process pays for much that later paints do not: the picture decoder is
// loaded and the logo decoded, the font engine opens the interface font and renders its first
// glyphs at every size, GDI+ sets itself up. Started before the main window is created, a worker
// pays those costs on the other core while the window system comes up, so the first paint finds
// them done. It touches nothing the window owns: its own fonts, its own small surface, and the
// resource pictures, which are decoded once for the whole process.

// Starts the warm-up; false when no thread could be made (the first paint then pays as before).
bool warmUpPaintingInBackground();

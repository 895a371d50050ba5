#pragma once
// The first paint of a process pays for much that later paints do not: the font engine opens the
// interface font and renders its first glyphs at every size, GDI+ sets itself up, and the back buffer
// is fresh memory whose every page costs a fault when first touched (about 4 ms a MiB here, 15 ms for
// a 1180 x 780 buffer). Started before the main window is created, a worker pays those costs on the
// other core while the window system comes up, so the first paint finds them done. It touches
// nothing the window owns: its own fonts, its own small surface, the resource pictures (read once for
// the whole process) and a back buffer it hands over.
#include <windows.h>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

class DibSurface;

// The back buffer a warm-up hands to the window thread, shared by its worker and the window.
class PaintWarmUp {
public:
    static constexpr int kFillingWaitMs = 200;

    // The back buffer the warm-up made and filled, when it is w x h; null otherwise (the caller makes
    // its own). While the worker is still filling it, waits for it, at most waitMs: a second buffer
    // made meanwhile would cost the same fresh memory again and slow both down. Asked once: one of
    // another size, or one that is ready only later, is freed.
    std::unique_ptr<DibSurface> takeBackBuffer(int w, int h, int waitMs = kFillingWaitMs);
    // The worker's filled surface, or null when it made none; kept only until the window has asked.
    void offerBackBuffer(std::unique_ptr<DibSurface> surface);

private:
    enum class Stage { Filling, Offered, Taken };
    std::mutex mutex_;
    std::condition_variable offered_;
    Stage stage_ = Stage::Filling;
    std::unique_ptr<DibSurface> backBuffer_;
};

// How large the first frame will be, in pixels, and at what DPI it is drawn.
struct FirstFrame {
    SIZE pixels{0, 0};
    int dpi = 96;
};

// Starts the warm-up; null when no thread could be made (the first paint then pays as before).
// firstFrame is called on the worker.
std::shared_ptr<PaintWarmUp> warmUpPaintingInBackground(std::function<FirstFrame()> firstFrame);

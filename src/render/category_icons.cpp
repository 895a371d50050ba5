#include "render/category_icons.h"

#include <cmath>
#include <initializer_list>
#include <vector>

#include "render/canvas.h"
#include "render/resource_images.h"

namespace {

constexpr float kPi = 3.14159265f;
constexpr uint32_t kWhiteDetail = 0xE8FFFFFF;

// Draws in Q units around the centre of the box: (a, b) is (cx + a*Q, cy + b*Q).
class IconPainter {
public:
    IconPainter(Canvas& canvas, const RECT& box, uint32_t rgb) : canvas_(canvas), main_(0xFF000000 | rgb) {
        const float width = static_cast<float>(box.right - box.left);
        const float height = static_cast<float>(box.bottom - box.top);
        q_ = (width < height ? width : height) * 0.5f;
        cx_ = box.left + width * 0.5f;
        cy_ = box.top + height * 0.5f;
        canvas.note(gp::GdipCreatePen1(main_, 1.8f, Gdiplus::UnitWorld, mainPen_.put()));
        canvas.note(gp::GdipCreatePen1(kWhiteDetail, 1.9f, Gdiplus::UnitWorld, whitePen_.put()));
        mainBrush_ = solid(main_);
        whiteBrush_ = solid(kWhiteDetail);
    }

    float x(float a) const { return cx_ + a * q_; }
    float y(float b) const { return cy_ + b * q_; }
    float len(float l) const { return l * q_; }
    uint32_t mainColour() const { return main_; }

    // A rounded box: the corners truncated to whole pixels, the radius (in Q units) too.
    RECT box(float a1, float b1, float a2, float b2) const {
        return {static_cast<int>(x(a1)), static_cast<int>(y(b1)), static_cast<int>(x(a2)), static_cast<int>(y(b2))};
    }
    int radius(float r) const { return static_cast<int>(len(r)); }

    gp::UniquePath path() {
        gp::UniquePath created;
        canvas_.note(gp::GdipCreatePath(Gdiplus::FillModeAlternate, created.put()));
        return created;
    }

    void fillRoundBox(const RECT& rect, int radiusPixels, gp::GpBrush* brush) {
        gp::UniquePath p = path();
        if (!p) return;
        AddRoundRect(p.get(), rect, radiusPixels);
        fill(p.get(), brush);
    }

    void fill(gp::GpPath* p, gp::GpBrush* brush) {
        if (brush) canvas_.note(gp::GdipFillPath(canvas_.graphics(), brush, p));
    }

    void polygon(std::initializer_list<std::pair<float, float>> points, gp::GpBrush* brush) {
        std::vector<Gdiplus::GpPointF> pts;
        for (const auto& pt : points) pts.push_back({x(pt.first), y(pt.second)});
        if (brush) {
            canvas_.note(gp::GdipFillPolygon(canvas_.graphics(), brush, pts.data(), static_cast<int>(pts.size()),
                                             Gdiplus::FillModeAlternate));
        }
    }

    void line(gp::GpPen* pen, float a1, float b1, float a2, float b2) {
        if (pen) canvas_.note(gp::GdipDrawLine(canvas_.graphics(), pen, x(a1), y(b1), x(a2), y(b2)));
    }
    void fillEllipse(gp::GpBrush* brush, float a, float b, float w, float h) {
        if (brush) canvas_.note(gp::GdipFillEllipse(canvas_.graphics(), brush, x(a), y(b), len(w), len(h)));
    }
    void drawEllipse(gp::GpPen* pen, float a, float b, float w, float h) {
        if (pen) canvas_.note(gp::GdipDrawEllipse(canvas_.graphics(), pen, x(a), y(b), len(w), len(h)));
    }
    void fillRect(gp::GpBrush* brush, float a, float b, float w, float h) {
        if (brush) canvas_.note(gp::GdipFillRectangle(canvas_.graphics(), brush, x(a), y(b), len(w), len(h)));
    }
    void drawRect(gp::GpPen* pen, float a, float b, float w, float h) {
        if (pen) canvas_.note(gp::GdipDrawRectangle(canvas_.graphics(), pen, x(a), y(b), len(w), len(h)));
    }
    void arc(gp::GpPen* pen, float a, float b, float w, float h, float start, float sweep) {
        if (pen) canvas_.note(gp::GdipDrawArc(canvas_.graphics(), pen, x(a), y(b), len(w), len(h), start, sweep));
    }

    gp::UniquePen pen(uint32_t argb, float widthPixels) {
        gp::UniquePen created;
        canvas_.note(gp::GdipCreatePen1(argb, widthPixels, Gdiplus::UnitWorld, created.put()));
        return created;
    }
    gp::UniqueBrush solid(uint32_t argb) {
        Gdiplus::GpSolidFill* brush = nullptr;
        canvas_.note(gp::GdipCreateSolidFill(argb, &brush));
        return gp::UniqueBrush(brush);
    }

    gp::GpPen* mainPen() const { return mainPen_.get(); }
    gp::GpPen* whitePen() const { return whitePen_.get(); }
    gp::GpBrush* mainBrush() const { return mainBrush_.get(); }
    gp::GpBrush* whiteBrush() const { return whiteBrush_.get(); }
    Canvas& canvas() { return canvas_; }

private:
    Canvas& canvas_;
    uint32_t main_;
    float q_ = 0, cx_ = 0, cy_ = 0;
    gp::UniquePen mainPen_, whitePen_;
    gp::UniqueBrush mainBrush_, whiteBrush_;
};

void drawSecurity(IconPainter& p) {
    p.polygon({{-0.85f, -0.85f}, {0.85f, -0.85f}, {0.85f, 0.05f}, {0.0f, 0.95f}, {-0.85f, 0.05f}}, p.mainBrush());
    gp::UniquePen tick = p.pen(kWhiteDetail, 2.2f);
    p.line(tick.get(), -0.36f, 0.02f, -0.07f, 0.32f);
    p.line(tick.get(), -0.07f, 0.32f, 0.4f, -0.26f);
}

void drawChat(IconPainter& p) {
    gp::UniquePath path = p.path();
    if (!path) return;
    const RECT bubble = p.box(-0.875f, -0.725f, 0.875f, 0.425f);
    AddRoundRect(path.get(), bubble, p.radius(1.15f * 0.34f));
    const float bottom = static_cast<float>(bubble.bottom);
    gp::GdipAddPathLine(path.get(), p.x(-0.28f), bottom, p.x(-0.5f), p.y(0.6f));
    gp::GdipAddPathLine(path.get(), p.x(-0.5f), p.y(0.6f), p.x(0.06f), bottom);
    p.fill(path.get(), p.mainBrush());
    for (float a : {-0.44f, -0.11f, 0.22f}) p.fillEllipse(p.whiteBrush(), a, -0.26f, 0.22f, 0.22f);
}

void drawBrowser(IconPainter& p) {
    p.drawEllipse(p.mainPen(), -0.85f, -0.85f, 1.7f, 1.7f);
    p.drawEllipse(p.mainPen(), -0.38f, -0.85f, 0.76f, 1.7f);
    p.line(p.mainPen(), -0.85f, 0.0f, 0.85f, 0.0f);
}

void drawMedia(IconPainter& p) {
    p.fillEllipse(p.mainBrush(), -0.85f, -0.85f, 1.7f, 1.7f);
    p.polygon({{-0.26f, -0.42f}, {0.42f, 0.0f}, {-0.26f, 0.42f}}, p.whiteBrush());
}

void drawOffice(IconPainter& p) {
    p.polygon({{-0.6f, -0.85f}, {0.1f, -0.85f}, {0.6f, -0.35f}, {0.6f, 0.85f}, {-0.6f, 0.85f}}, p.mainBrush());
    for (float b : {-0.07f, 0.25f, 0.57f}) p.line(p.whitePen(), -0.4f, b, 0.4f, b);
}

void drawInput(IconPainter& p) {
    const RECT keyboard = p.box(-0.925f, -0.625f, 0.925f, 0.625f);
    p.fillRoundBox(keyboard, p.radius(0.14f), p.mainBrush());
    const float o = 1.85f / 7.0f;
    const float xl = static_cast<float>(keyboard.left);
    const float lineTop = p.y(-0.1f);
    const float lineBottom = keyboard.bottom - p.len(0.1f);
    for (int j = 1; j <= 6; ++j) {
        const float lx = xl + p.len(j * o);
        if (p.whitePen()) p.canvas().note(gp::GdipDrawLine(p.canvas().graphics(), p.whitePen(), lx, lineTop, lx, lineBottom));
    }
    gp::UniqueBrush keys = p.solid(0xFFFFFFFF);
    const float keyTop = keyboard.top + p.len(0.06f);
    for (float k : {1.21f, 1.93f, 3.14f}) {
        if (keys) {
            p.canvas().note(gp::GdipFillRectangle(p.canvas().graphics(), keys.get(), xl + p.len(k * o), keyTop,
                                                  p.len(0.58f * o), p.len(0.65f)));
        }
    }
}

void drawArchive(IconPainter& p) {
    p.fillRoundBox(p.box(-0.7f, -0.85f, 0.7f, 0.85f), p.radius(0.22f), p.mainBrush());
    p.line(p.whitePen(), 0.0f, -0.7f, 0.0f, 0.6f);
    for (int k = 0; k <= 4; ++k) {
        const float b = -0.52f + 0.26f * k;
        p.line(p.whitePen(), -0.28f, b, -0.08f, b);
        p.line(p.whitePen(), 0.08f, b + 0.13f, 0.28f, b + 0.13f);
    }
}

void drawSystem(IconPainter& p) {
    for (int i = 0; i < 8; ++i) {
        const float a = i * kPi / 4.0f;
        p.fillRect(p.mainBrush(), 0.62f * std::cos(a) - 0.19f, 0.62f * std::sin(a) - 0.19f, 0.38f, 0.38f);
    }
    p.fillEllipse(p.mainBrush(), -0.6f, -0.6f, 1.2f, 1.2f);
    p.fillEllipse(p.whiteBrush(), -0.23f, -0.23f, 0.46f, 0.46f);
}

void drawDriver(IconPainter& p) {
    p.fillRect(p.mainBrush(), -0.55f, -0.55f, 1.1f, 1.1f);
    p.drawRect(p.whitePen(), -0.28f, -0.28f, 0.56f, 0.56f);
    for (float d : {-0.34f, 0.0f, 0.34f}) {
        p.line(p.mainPen(), -0.55f, d, -0.9f, d);
        p.line(p.mainPen(), 0.55f, d, 0.9f, d);
        p.line(p.mainPen(), d, -0.55f, d, -0.9f);
        p.line(p.mainPen(), d, 0.55f, d, 0.9f);
    }
}

void drawRemote(IconPainter& p) {
    gp::UniquePen screens = p.pen(p.mainColour(), 1.8f);
    p.drawRect(screens.get(), -0.95f, -0.75f, 0.75f, 0.55f);
    p.drawRect(screens.get(), 0.2f, 0.2f, 0.75f, 0.55f);
    p.line(p.mainPen(), -0.2f, 0.28f, 0.45f, -0.05f);
    p.polygon({{0.3f, -0.2f}, {0.5f, -0.05f}, {0.28f, 0.02f}}, p.mainBrush());
}

void drawBackup(IconPainter& p) {
    gp::UniquePen ring = p.pen(p.mainColour(), 2.2f);
    p.arc(ring.get(), -0.7f, -0.7f, 1.4f, 1.4f, 120.0f, 290.0f);
    p.polygon({{-0.62f, -0.6f}, {-0.62f, -0.04f}, {-1.0f, -0.32f}}, p.mainBrush());
}

void drawGame(IconPainter& p) {
    gp::UniquePen stick = p.pen(p.mainColour(), p.len(0.2f));
    if (stick) {
        p.canvas().note(gp::GdipSetPenLineCap197819(stick.get(), Gdiplus::LineCapRound, Gdiplus::LineCapRound,
                                                     Gdiplus::DashCapRound));
    }
    p.line(stick.get(), -0.38f, -0.38f, 0.06f, 0.36f);
    p.fillEllipse(p.mainBrush(), -0.74f, -0.92f, 0.62f, 0.62f);
    p.fillRoundBox(p.box(-0.87f, 0.3f, 0.87f, 0.8f), p.radius(0.2f), p.mainBrush());
    p.fillEllipse(p.whiteBrush(), 0.16f, 0.45f, 0.2f, 0.2f);
    p.fillEllipse(p.whiteBrush(), 0.46f, 0.45f, 0.2f, 0.2f);
}

void drawImage(IconPainter& p) {
    gp::UniquePath frame = p.path();
    if (frame) {
        AddRoundRect(frame.get(), p.box(-0.85f, -0.68f, 0.85f, 0.68f), 3);
        if (p.mainPen()) p.canvas().note(gp::GdipDrawPath(p.canvas().graphics(), p.mainPen(), frame.get()));
    }
    p.fillEllipse(p.mainBrush(), -0.38f, -0.42f, 0.28f, 0.28f);
    gp::UniquePen hills = p.pen(p.mainColour(), 1.8f);
    const Gdiplus::GpPointF points[] = {{p.x(-0.68f), p.y(0.48f)},
                                        {p.x(-0.12f), p.y(-0.12f)},
                                        {p.x(0.14f), p.y(0.14f)},
                                        {p.x(0.34f), p.y(-0.04f)},
                                        {p.x(0.68f), p.y(0.48f)}};
    if (hills) p.canvas().note(gp::GdipDrawLines(p.canvas().graphics(), hills.get(), points, 5));
}

void drawVideo(IconPainter& p) {
    p.fillRect(p.mainBrush(), -0.9f, -0.62f, 1.8f, 1.24f);
    for (int k = 0; k <= 3; ++k) {
        const float a = -0.77f + 0.41f * k;
        p.fillRect(p.whiteBrush(), a, -0.5f, 0.2f, 0.2f);
        p.fillRect(p.whiteBrush(), a, 0.3f, 0.2f, 0.2f);
    }
}

void drawAI(IconPainter& p) {
    p.line(p.mainPen(), 0.0f, -0.82f, 0.0f, -0.55f);
    p.fillEllipse(p.mainBrush(), -0.1f, -1.0f, 0.2f, 0.2f);
    p.fillRoundBox(p.box(-0.75f, -0.55f, 0.75f, 0.5f), p.radius(0.2f), p.mainBrush());
    p.fillEllipse(p.whiteBrush(), -0.44f, -0.28f, 0.3f, 0.3f);
    p.fillEllipse(p.whiteBrush(), 0.14f, -0.28f, 0.3f, 0.3f);
    p.fillRect(p.whiteBrush(), -0.22f, 0.12f, 0.44f, 0.1f);
}

void drawDesign(IconPainter& p) {
    gp::UniquePen body = p.pen(p.mainColour(), 2.5f);
    p.line(body.get(), -0.5f, 0.5f, 0.55f, -0.55f);
    p.fillRect(p.mainBrush(), 0.3f, -0.85f, 0.34f, 0.34f);
    p.polygon({{-0.78f, 0.22f}, {-0.55f, 0.55f}, {-0.78f, 0.78f}}, p.mainBrush());
}

void drawHardware(IconPainter& p) {
    const uint32_t c = p.mainColour();
    gp::UniquePen handle = p.pen(c, p.len(0.3f));
    p.line(handle.get(), -0.52f, 0.52f, 0.46f, -0.46f);
    gp::UniquePen jaw = p.pen(c, p.len(0.26f));
    p.arc(jaw.get(), 0.4f, -0.84f, 0.44f, 0.44f, 10.0f, 250.0f);
    p.line(jaw.get(), -0.7f, -0.7f, -0.5f, -0.5f);
    gp::UniquePen shaft = p.pen(c, p.len(0.15f));
    p.line(shaft.get(), -0.5f, -0.5f, 0.16f, 0.16f);
    gp::UniquePen grip = p.pen(c, p.len(0.36f));
    p.line(grip.get(), 0.2f, 0.2f, 0.64f, 0.64f);
}

void drawReinstall(IconPainter& p, bool highlighted) {
    const uint32_t normal[4] = {0xFFF25022, 0xFF7FBA00, 0xFF00A4EF, 0xFFFFB900};
    const uint32_t dark[4] = {0xFFC1401B, 0xFF659400, 0xFF0083BF, 0xFFCC9400};
    const float side = (2 * 0.8f - 0.18f) * 0.5f;
    const float corners[4][2] = {{-0.8f, -0.8f}, {0.09f, -0.8f}, {-0.8f, 0.09f}, {0.09f, 0.09f}};
    for (int i = 0; i < 4; ++i) {
        gp::UniqueBrush brush = p.solid(highlighted ? dark[i] : normal[i]);
        p.fillRect(brush.get(), corners[i][0], corners[i][1], side, side);
    }
}

void drawOther(IconPainter& p) {
    for (float b : {-0.56f, 0.06f})
        for (float a : {-0.56f, 0.06f}) p.fillEllipse(p.mainBrush(), a, b, 0.5f, 0.5f);
}

// The download kind is a full-colour picture; highlighting scales its colour channels to 80 %.
void drawDownloadPicture(Canvas& canvas, const RECT& box, bool highlighted) {
    gp::GpImage* image = downloadPictureImage();
    if (!image) return;
    UINT width = 0, height = 0;
    canvas.note(gp::GdipGetImageWidth(image, &width));
    canvas.note(gp::GdipGetImageHeight(image, &height));
    Gdiplus::InterpolationMode saved = Gdiplus::InterpolationModeDefault;
    gp::GdipGetInterpolationMode(canvas.graphics(), &saved);
    canvas.note(gp::GdipSetInterpolationMode(canvas.graphics(), Gdiplus::InterpolationModeHighQualityBicubic));
    gp::UniqueImageAttributes attributes;
    if (highlighted) {
        canvas.note(gp::GdipCreateImageAttributes(attributes.put()));
        Gdiplus::ColorMatrix matrix{};
        matrix.m[0][0] = matrix.m[1][1] = matrix.m[2][2] = 0.8f;
        matrix.m[3][3] = matrix.m[4][4] = 1.0f;
        if (attributes) {
            canvas.note(gp::GdipSetImageAttributesColorMatrix(attributes.get(), Gdiplus::ColorAdjustTypeDefault, TRUE,
                                                              &matrix, nullptr, Gdiplus::ColorMatrixFlagsDefault));
        }
    }
    canvas.note(gp::GdipDrawImageRectRect(canvas.graphics(), image, static_cast<float>(box.left),
                                          static_cast<float>(box.top), static_cast<float>(box.right - box.left),
                                          static_cast<float>(box.bottom - box.top), 0.0f, 0.0f,
                                          static_cast<float>(width), static_cast<float>(height), Gdiplus::UnitPixel,
                                          attributes.get(), nullptr, nullptr));
    gp::GdipSetInterpolationMode(canvas.graphics(), saved);
}

}  // namespace

void DrawCategoryIcon(Canvas& canvas, int kind, const RECT& box, uint32_t rgb, bool highlighted) {
    if (kind == IconDownload) {
        drawDownloadPicture(canvas, box, highlighted);
        return;
    }
    IconPainter p(canvas, box, rgb);
    switch (kind) {
        case IconSecurity: drawSecurity(p); break;
        case IconChat: drawChat(p); break;
        case IconBrowser: drawBrowser(p); break;
        case IconMedia: drawMedia(p); break;
        case IconOffice: drawOffice(p); break;
        case IconInput: drawInput(p); break;
        case IconArchive: drawArchive(p); break;
        case IconSystem: drawSystem(p); break;
        case IconDriver: drawDriver(p); break;
        case IconRemote: drawRemote(p); break;
        case IconBackup: drawBackup(p); break;
        case IconGame: drawGame(p); break;
        case IconImage: drawImage(p); break;
        case IconVideo: drawVideo(p); break;
        case IconAI: drawAI(p); break;
        case IconDesign: drawDesign(p); break;
        case IconHardware: drawHardware(p); break;
        case IconReinstall: drawReinstall(p, highlighted); break;
        default: drawOther(p); break;
    }
}

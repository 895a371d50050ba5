#include "render/category_icons.h"

#include <cmath>
#include <initializer_list>
#include <utility>
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
    }

    float x(float a) const { return cx_ + a * q_; }
    float y(float b) const { return cy_ + b * q_; }
    float len(float l) const { return l * q_; }
    RasterPoint at(float a, float b) const { return {x(a), y(b)}; }

    uint32_t mainColour() const { return main_; }
    Pen mainPen() const { return {main_, 1.8f}; }
    Pen whitePen() const { return {kWhiteDetail, 1.9f}; }
    Pen pen(float widthPixels) const { return {main_, widthPixels}; }

    // A rounded box: the corners truncated to whole pixels, the radius (in Q units) too.
    RECT box(float a1, float b1, float a2, float b2) const {
        return {static_cast<int>(x(a1)), static_cast<int>(y(b1)), static_cast<int>(x(a2)), static_cast<int>(y(b2))};
    }
    int radius(float r) const { return static_cast<int>(len(r)); }

    void fillRoundBox(const RECT& rect, int radiusPixels) { fillRoundRect(canvas_, rect, radiusPixels, main_); }
    void polygon(std::initializer_list<std::pair<float, float>> points, uint32_t argb) {
        std::vector<RasterPoint> pts;
        for (const auto& pt : points) pts.push_back(at(pt.first, pt.second));
        canvas_.fillPolygon(pts, argb);
    }
    void line(const Pen& pen, float a1, float b1, float a2, float b2) {
        canvas_.drawLine(x(a1), y(b1), x(a2), y(b2), pen);
    }
    void fillEllipse(uint32_t argb, float a, float b, float w, float h) {
        canvas_.fillEllipse(x(a), y(b), len(w), len(h), argb);
    }
    void drawEllipse(const Pen& pen, float a, float b, float w, float h) {
        canvas_.drawEllipse(x(a), y(b), len(w), len(h), pen);
    }
    void fillRect(uint32_t argb, float a, float b, float w, float h) { canvas_.fillRect(x(a), y(b), len(w), len(h), argb); }
    void drawRect(const Pen& pen, float a, float b, float w, float h) { canvas_.drawRect(x(a), y(b), len(w), len(h), pen); }
    void arc(const Pen& pen, float a, float b, float w, float h, float start, float sweep) {
        canvas_.drawArc(x(a), y(b), len(w), len(h), start, sweep, pen);
    }
    Canvas& canvas() { return canvas_; }

private:
    Canvas& canvas_;
    uint32_t main_;
    float q_ = 0, cx_ = 0, cy_ = 0;
};

void drawSecurity(IconPainter& p) {
    p.polygon({{-0.85f, -0.85f}, {0.85f, -0.85f}, {0.85f, 0.05f}, {0.0f, 0.95f}, {-0.85f, 0.05f}}, p.mainColour());
    const Pen tick{kWhiteDetail, 2.2f};
    p.line(tick, -0.36f, 0.02f, -0.07f, 0.32f);
    p.line(tick, -0.07f, 0.32f, 0.4f, -0.26f);
}

void drawChat(IconPainter& p) {
    gp::UniquePath path;
    p.canvas().note(gp::GdipCreatePath(Gdiplus::FillModeAlternate, path.put()));
    if (!path) return;
    const RECT bubble = p.box(-0.875f, -0.725f, 0.875f, 0.425f);
    addRoundRect(path.get(), bubble, p.radius(1.15f * 0.34f));
    const float bottom = static_cast<float>(bubble.bottom);
    gp::GdipAddPathLine(path.get(), p.x(-0.28f), bottom, p.x(-0.5f), p.y(0.6f));
    gp::GdipAddPathLine(path.get(), p.x(-0.5f), p.y(0.6f), p.x(0.06f), bottom);
    p.canvas().fillPath(path.get(), p.mainColour());
    for (float a : {-0.44f, -0.11f, 0.22f}) p.fillEllipse(kWhiteDetail, a, -0.26f, 0.22f, 0.22f);
}

void drawBrowser(IconPainter& p) {
    p.drawEllipse(p.mainPen(), -0.85f, -0.85f, 1.7f, 1.7f);
    p.drawEllipse(p.mainPen(), -0.38f, -0.85f, 0.76f, 1.7f);
    p.line(p.mainPen(), -0.85f, 0.0f, 0.85f, 0.0f);
}

void drawMedia(IconPainter& p) {
    p.fillEllipse(p.mainColour(), -0.85f, -0.85f, 1.7f, 1.7f);
    p.polygon({{-0.26f, -0.42f}, {0.42f, 0.0f}, {-0.26f, 0.42f}}, kWhiteDetail);
}

void drawOffice(IconPainter& p) {
    p.polygon({{-0.6f, -0.85f}, {0.1f, -0.85f}, {0.6f, -0.35f}, {0.6f, 0.85f}, {-0.6f, 0.85f}}, p.mainColour());
    for (float b : {-0.07f, 0.25f, 0.57f}) p.line(p.whitePen(), -0.4f, b, 0.4f, b);
}

void drawInput(IconPainter& p) {
    const RECT keyboard = p.box(-0.925f, -0.625f, 0.925f, 0.625f);
    p.fillRoundBox(keyboard, p.radius(0.14f));
    const float o = 1.85f / 7.0f;
    const float xl = static_cast<float>(keyboard.left);
    const float lineTop = p.y(-0.1f);
    const float lineBottom = keyboard.bottom - p.len(0.1f);
    for (int j = 1; j <= 6; ++j) {
        const float lx = xl + p.len(j * o);
        p.canvas().drawLine(lx, lineTop, lx, lineBottom, p.whitePen());
    }
    const float keyTop = keyboard.top + p.len(0.06f);
    for (float k : {1.21f, 1.93f, 3.14f})
        p.canvas().fillRect(xl + p.len(k * o), keyTop, p.len(0.58f * o), p.len(0.65f), 0xFFFFFFFF);
}

void drawArchive(IconPainter& p) {
    p.fillRoundBox(p.box(-0.7f, -0.85f, 0.7f, 0.85f), p.radius(0.22f));
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
        p.fillRect(p.mainColour(), 0.62f * std::cos(a) - 0.19f, 0.62f * std::sin(a) - 0.19f, 0.38f, 0.38f);
    }
    p.fillEllipse(p.mainColour(), -0.6f, -0.6f, 1.2f, 1.2f);
    p.fillEllipse(kWhiteDetail, -0.23f, -0.23f, 0.46f, 0.46f);
}

void drawDriver(IconPainter& p) {
    p.fillRect(p.mainColour(), -0.55f, -0.55f, 1.1f, 1.1f);
    p.drawRect(p.whitePen(), -0.28f, -0.28f, 0.56f, 0.56f);
    for (float d : {-0.34f, 0.0f, 0.34f}) {
        p.line(p.mainPen(), -0.55f, d, -0.9f, d);
        p.line(p.mainPen(), 0.55f, d, 0.9f, d);
        p.line(p.mainPen(), d, -0.55f, d, -0.9f);
        p.line(p.mainPen(), d, 0.55f, d, 0.9f);
    }
}

void drawRemote(IconPainter& p) {
    const Pen screens = p.pen(1.8f);
    p.drawRect(screens, -0.95f, -0.75f, 0.75f, 0.55f);
    p.drawRect(screens, 0.2f, 0.2f, 0.75f, 0.55f);
    p.line(p.mainPen(), -0.2f, 0.28f, 0.45f, -0.05f);
    p.polygon({{0.3f, -0.2f}, {0.5f, -0.05f}, {0.28f, 0.02f}}, p.mainColour());
}

void drawBackup(IconPainter& p) {
    p.arc(p.pen(2.2f), -0.7f, -0.7f, 1.4f, 1.4f, 120.0f, 290.0f);
    p.polygon({{-0.62f, -0.6f}, {-0.62f, -0.04f}, {-1.0f, -0.32f}}, p.mainColour());
}

void drawGame(IconPainter& p) {
    Pen stick = p.pen(p.len(0.2f));
    stick.roundCaps = true;
    p.line(stick, -0.38f, -0.38f, 0.06f, 0.36f);
    p.fillEllipse(p.mainColour(), -0.74f, -0.92f, 0.62f, 0.62f);
    p.fillRoundBox(p.box(-0.87f, 0.3f, 0.87f, 0.8f), p.radius(0.2f));
    p.fillEllipse(kWhiteDetail, 0.16f, 0.45f, 0.2f, 0.2f);
    p.fillEllipse(kWhiteDetail, 0.46f, 0.45f, 0.2f, 0.2f);
}

void drawImage(IconPainter& p) {
    strokeRoundRect(p.canvas(), p.box(-0.85f, -0.68f, 0.85f, 0.68f), 3, p.mainColour(), 1.8f);
    p.fillEllipse(p.mainColour(), -0.38f, -0.42f, 0.28f, 0.28f);
    p.canvas().drawLines({p.at(-0.68f, 0.48f), p.at(-0.12f, -0.12f), p.at(0.14f, 0.14f), p.at(0.34f, -0.04f),
                          p.at(0.68f, 0.48f)},
                         p.pen(1.8f));
}

void drawVideo(IconPainter& p) {
    p.fillRect(p.mainColour(), -0.9f, -0.62f, 1.8f, 1.24f);
    for (int k = 0; k <= 3; ++k) {
        const float a = -0.77f + 0.41f * k;
        p.fillRect(kWhiteDetail, a, -0.5f, 0.2f, 0.2f);
        p.fillRect(kWhiteDetail, a, 0.3f, 0.2f, 0.2f);
    }
}

void drawAI(IconPainter& p) {
    p.line(p.mainPen(), 0.0f, -0.82f, 0.0f, -0.55f);
    p.fillEllipse(p.mainColour(), -0.1f, -1.0f, 0.2f, 0.2f);
    p.fillRoundBox(p.box(-0.75f, -0.55f, 0.75f, 0.5f), p.radius(0.2f));
    p.fillEllipse(kWhiteDetail, -0.44f, -0.28f, 0.3f, 0.3f);
    p.fillEllipse(kWhiteDetail, 0.14f, -0.28f, 0.3f, 0.3f);
    p.fillRect(kWhiteDetail, -0.22f, 0.12f, 0.44f, 0.1f);
}

void drawDesign(IconPainter& p) {
    p.line(p.pen(2.5f), -0.5f, 0.5f, 0.55f, -0.55f);
    p.fillRect(p.mainColour(), 0.3f, -0.85f, 0.34f, 0.34f);
    p.polygon({{-0.78f, 0.22f}, {-0.55f, 0.55f}, {-0.78f, 0.78f}}, p.mainColour());
}

void drawHardware(IconPainter& p) {
    p.line(p.pen(p.len(0.3f)), -0.52f, 0.52f, 0.46f, -0.46f);
    const Pen jaw = p.pen(p.len(0.26f));
    p.arc(jaw, 0.4f, -0.84f, 0.44f, 0.44f, 10.0f, 250.0f);
    p.line(jaw, -0.7f, -0.7f, -0.5f, -0.5f);
    p.line(p.pen(p.len(0.15f)), -0.5f, -0.5f, 0.16f, 0.16f);
    p.line(p.pen(p.len(0.36f)), 0.2f, 0.2f, 0.64f, 0.64f);
}

void drawReinstall(IconPainter& p, bool highlighted) {
    const uint32_t normal[4] = {0xFFF25022, 0xFF7FBA00, 0xFF00A4EF, 0xFFFFB900};
    const uint32_t dark[4] = {0xFFC1401B, 0xFF659400, 0xFF0083BF, 0xFFCC9400};
    const float side = (2 * 0.8f - 0.18f) * 0.5f;
    const float corners[4][2] = {{-0.8f, -0.8f}, {0.09f, -0.8f}, {-0.8f, 0.09f}, {0.09f, 0.09f}};
    for (int i = 0; i < 4; ++i) p.fillRect(highlighted ? dark[i] : normal[i], corners[i][0], corners[i][1], side, side);
}

void drawOther(IconPainter& p) {
    for (float b : {-0.56f, 0.06f})
        for (float a : {-0.56f, 0.06f}) p.fillEllipse(p.mainColour(), a, b, 0.5f, 0.5f);
}

// The download kind is a full-colour picture; highlighting scales its colour channels to 80 %.
void drawDownloadPicture(Canvas& canvas, const RECT& box, bool highlighted) {
    const float highlight = highlighted ? 0.8f : 1.0f;
    const RECT pixels = canvas.pictureBox(box.left, box.top, box.right - box.left);
    if (const Picture& kept = downloadPicturePixels(pixels.right - pixels.left);
        !kept.empty() && box.bottom - box.top == box.right - box.left) {
        canvas.drawPicture(kept, box.left, box.top, highlight);
        return;
    }
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
        matrix.m[0][0] = matrix.m[1][1] = matrix.m[2][2] = highlight;
        matrix.m[3][3] = matrix.m[4][4] = 1.0f;
        if (attributes) {
            canvas.note(gp::GdipSetImageAttributesColorMatrix(attributes.get(), Gdiplus::ColorAdjustTypeDefault, TRUE,
                                                              &matrix, nullptr, Gdiplus::ColorMatrixFlagsDefault));
        }
    }
    const RECT drawn = canvas.pixels(box);
    canvas.note(gp::GdipDrawImageRectRect(canvas.graphics(), image, static_cast<float>(drawn.left),
                                          static_cast<float>(drawn.top), static_cast<float>(drawn.right - drawn.left),
                                          static_cast<float>(drawn.bottom - drawn.top), 0.0f, 0.0f,
                                          static_cast<float>(width), static_cast<float>(height), Gdiplus::UnitPixel,
                                          attributes.get(), nullptr, nullptr));
    gp::GdipSetInterpolationMode(canvas.graphics(), saved);
}

}  // namespace

void drawCategoryIcon(Canvas& canvas, int kind, const RECT& box, uint32_t rgb, bool highlighted) {
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

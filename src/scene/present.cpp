// The render target and the present step. Every frame is drawn at the render size
// (screen_width x screen_height), whatever the window's size, so the layers, the glow and
// the letterbox always see the viewport and the projection they were made for. On a
// drawable of exactly that size the frame is drawn straight into it, with nothing to
// scale. On any other it is drawn into an offscreen framebuffer, and presenting scales
// that picture uniformly onto the drawable, centred, with black bars where the aspects
// differ; only the rows the letterbox leaves lit are filtered, the rest is cleared.
#define GL_GLEXT_PROTOTYPES 1
#include "scene/scene_internal.h"

#include "datafiles/data_files.h"

#include <GL/glext.h>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>

namespace {

struct render_target_state {
    GLuint framebuffer; // 0 when the context offers none: frames go to the window directly
    GLuint colour;      // renderbuffers of the framebuffer, render size
    GLuint depth;
    bool direct; // this frame is drawn straight into the drawable; set by aim_frame
};
// Written by create_render_target on each new context; read by present_frame.
render_target_state target;

// The framebuffer this frame is drawn into and read from.
GLuint frame_framebuffer() {
    return target.direct ? 0 : target.framebuffer;
}

struct present_rect {
    int x, y, width_px, height_px;
};

// Where the picture lands on a drawable of that size: scaled uniformly to fit, centred,
// in whole pixels (all zero for an empty drawable).
present_rect fit_render_size(int drawable_width_px, int drawable_height_px) {
    if (drawable_width_px <= 0 || drawable_height_px <= 0)
        return {0, 0, 0, 0};
    // Compared in whole numbers: which side limits the scale, then the other side
    // rounded to the nearest pixel.
    const long long w = drawable_width_px, h = drawable_height_px;
    present_rect rect;
    if (w * screen_height <= h * screen_width) {
        rect.width_px = drawable_width_px;
        rect.height_px =
            static_cast<int>((w * screen_height * 2 + screen_width) / (2LL * screen_width));
    } else {
        rect.height_px = drawable_height_px;
        rect.width_px =
            static_cast<int>((h * screen_width * 2 + screen_height) / (2LL * screen_height));
    }
    rect.x = (drawable_width_px - rect.width_px) / 2;
    rect.y = (drawable_height_px - rect.height_px) / 2;
    return rect;
}

} // namespace

void create_render_target() {
    // The surface format of the window (gl_surface.h): 8 bits a channel and a 16-bit depth.
    target = {};
    glGenFramebuffers(1, &target.framebuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, target.framebuffer);
    glGenRenderbuffers(1, &target.colour);
    glBindRenderbuffer(GL_RENDERBUFFER, target.colour);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, screen_width, screen_height);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, target.colour);
    glGenRenderbuffers(1, &target.depth);
    glBindRenderbuffer(GL_RENDERBUFFER, target.depth);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT16, screen_width, screen_height);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, target.depth);
    // Mesa rasterises into a window's buffer upside down in memory, which settles a few
    // edge pixels differently; a framebuffer stored the same way draws the very same
    // bytes as a window of the render size would. Other GLs only raise an error here.
    constexpr GLenum flip_y_mesa = 0x8BBB; // GL_MESA_framebuffer_flip_y
    glFramebufferParameteri(GL_FRAMEBUFFER, flip_y_mesa, GL_TRUE);
    glGetError();
    if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
        // Drawn straight into the window, the picture is still right at the render size.
        std::fprintf(stderr,
                     "%s: no offscreen framebuffer on this GL; the picture is not scaled to "
                     "the window\n",
                     program_name());
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
        glDeleteFramebuffers(1, &target.framebuffer);
        glDeleteRenderbuffers(1, &target.colour);
        glDeleteRenderbuffers(1, &target.depth);
        target = {};
        glGetError(); // the calls of a GL without framebuffers only raised errors
    }
}

present_rows lit_present_rows(int y, int height_px) {
    // The lit rows on the render target, widened by the filter's reach.
    constexpr int filter_margin = 2;
    const row_band lit = letterbox_lit_rows();
    const int lit_first = lit.first, lit_end = lit.end;
    // Picture row r lands on drawable row y + r * height_px / screen_height: a whole row
    // when r is a multiple of step.
    const int step = screen_height / std::gcd(screen_height, std::max(height_px, 1));
    present_rows rows;
    rows.picture_first = std::max(0, (lit_first - filter_margin) / step * step);
    rows.picture_end = std::min(screen_height, (lit_end + filter_margin + step - 1) / step * step);
    rows.drawable_first = y + static_cast<int>(static_cast<long long>(rows.picture_first) *
                                               height_px / screen_height);
    rows.drawable_end =
        y + static_cast<int>(static_cast<long long>(rows.picture_end) * height_px / screen_height);
    return rows;
}

// Sets the alpha of rows [first, end) of the bound draw framebuffer to the clear
// colour's, leaving their colour as it is. Scissor test off before and after.
static void make_rows_opaque(int first, int end) {
    glEnable(GL_SCISSOR_TEST);
    glScissor(0, first, screen_width, end - first);
    glColorMask(GL_FALSE, GL_FALSE, GL_FALSE, GL_TRUE);
    glClear(GL_COLOR_BUFFER_BIT);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glDisable(GL_SCISSOR_TEST);
}

void aim_frame(int drawable_width_px, int drawable_height_px) {
    target.direct = target.framebuffer == 0 ||
                    (drawable_width_px == screen_width && drawable_height_px == screen_height);
    if (target.framebuffer != 0)
        glBindFramebuffer(GL_FRAMEBUFFER, frame_framebuffer());
}

void present_frame(int drawable_width_px, int drawable_height_px) {
    // Expects: the finished frame where aim_frame put it, bound for reading and drawing;
    // scissor test off. Leaves: the same bindings, clear colour and colour mask; the
    // drawable holds the picture over black bars, every pixel opaque.
    GLfloat clear_colour[4];
    glGetFloatv(GL_COLOR_CLEAR_VALUE, clear_colour);
    // The frame's own alpha means nothing to a desktop, which would see through it.
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    const present_rect rect = fit_render_size(drawable_width_px, drawable_height_px);
    if (target.direct || rect.width_px <= 0 || rect.height_px <= 0) {
        // The letterbox bands are opaque already; only the lit rows need it.
        const present_rows lit = lit_present_rows(0, screen_height);
        make_rows_opaque(lit.picture_first, lit.picture_end);
        glClearColor(clear_colour[0], clear_colour[1], clear_colour[2], clear_colour[3]);
        return;
    }
    const bool same_size = rect.width_px == screen_width && rect.height_px == screen_height;
    // Scaled, only the lit rows need the filter; at the render size the copy is exact.
    const present_rows rows = same_size
                                  ? present_rows{0, screen_height, rect.y, rect.y + screen_height}
                                  : lit_present_rows(rect.y, rect.height_px);
    make_rows_opaque(rows.picture_first, rows.picture_end);

    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
    // Black everywhere the blit does not reach: one clear of the whole drawable, which a
    // GL does fastest (a software one marks its tiles cleared rather than writing them).
    glClear(GL_COLOR_BUFFER_BIT);
    const int after_x = rect.x + rect.width_px;
    glBlitFramebuffer(0, rows.picture_first, screen_width, rows.picture_end, rect.x,
                      rows.drawable_first, after_x, rows.drawable_end, GL_COLOR_BUFFER_BIT,
                      same_size ? GL_NEAREST : GL_LINEAR);
    glClearColor(clear_colour[0], clear_colour[1], clear_colour[2], clear_colour[3]);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, target.framebuffer);
}

void present_black() {
    GLfloat clear_colour[4];
    glGetFloatv(GL_COLOR_CLEAR_VALUE, clear_colour);
    if (target.framebuffer != 0)
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glDisable(GL_SCISSOR_TEST);
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    glClearColor(clear_colour[0], clear_colour[1], clear_colour[2], clear_colour[3]);
    if (target.framebuffer != 0)
        glBindFramebuffer(GL_FRAMEBUFFER, frame_framebuffer());
}

void read_presented_frame(int width_px, int height_px, unsigned char* rgb) {
    if (target.framebuffer != 0)
        glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width_px, height_px, GL_RGB, GL_UNSIGNED_BYTE, rgb);
    if (target.framebuffer != 0)
        glBindFramebuffer(GL_READ_FRAMEBUFFER, frame_framebuffer());
}

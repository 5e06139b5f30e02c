// Scene setup on a fresh context and the composition of one frame.
#include "scene/scene_internal.h"
#include "datafiles/data_files.h"
#include "pngload/png_texture.h"
#include "sound/soundtrack.h"

#include <GL/glu.h>
#include <cstdio>

GLuint bg_texture, fg_texture, scroll_texture;

// A missing or broken image leaves its layer drawn without a picture; say so once per
// load (the loader's reason names the file), since the show goes on regardless.
static GLuint load_scene_texture(const char* file_name) {
    GLuint name = load_png_texture(data_file_path(file_name).c_str());
    if (name == 0)
        std::fprintf(stderr, "%s: %s; that layer is drawn without its image\n", program_name(),
                     png_failure_reason());
    return name;
}

void setup_scene() {
    create_render_target();
    set_perspective_view(screen_width, screen_height);
    glShadeModel(GL_SMOOTH);
    glClearColor(0.0f, 0.0f, 0.0f, 0.5f);
    glClearDepth(1.0f);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);
    glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);

    // Each setup runs on a new context, so the names of the previous one are simply
    // replaced.
    bg_texture = load_scene_texture("bg.png");
    fg_texture = load_scene_texture("fg.png");
    scroll_texture = load_scene_texture("trelm.png");

    // The first frame is drawn (and the GL's pipeline built) before the music starts:
    // a software GL takes far longer over its first frame than over the next, and the
    // first note would be heard before the first picture.
    create_blur_targets();
    draw_frame();
    start_soundtrack();
}

void set_perspective_view(int width, int height) {
    if (height == 0)
        height = 1;
    constexpr double field_of_view_deg = 45.0;
    constexpr float near_plane = 0.1f; // widened to double as it stands
    constexpr double far_plane = 100.0;
    glViewport(0, 0, width, height);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(field_of_view_deg, static_cast<double>(width) / static_cast<double>(height),
                   near_plane, far_plane);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

bool draw_frame() {
    return draw_frame_rows(letterbox_lit_rows());
}

bool draw_frame_rows(row_band visible) {
    constexpr float glow_radius = 3.0f;
    constexpr float glow_multiply_passes = 1.0f;
    constexpr float glow_strength = 5.0f;
    constexpr float glow_gain = 1.0f;
    // The layers only where the glow reads them: the letterbox, drawn over the whole
    // frame last, hides every other row, whatever an earlier frame or a fresh drawable
    // left there. The clear stays whole, since the letterbox is depth-tested too (and a
    // GL clears a whole buffer fastest).
    const row_band drawn = glow_reach(static_cast<int>(glow_radius), visible).frame;

    sample_demo_clock();
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glEnable(GL_SCISSOR_TEST);
    glScissor(0, drawn.first, screen_width, drawn.end - drawn.first);

    draw_background();
    draw_bars();
    draw_fg_overlay();
    draw_scroll_overlay();

    // Leaves the scissor test off, so the letterbox covers the whole frame.
    apply_glow(glow_radius, glow_multiply_passes, glow_strength, glow_gain, visible);

    draw_letterbox();

    return !show_is_over(demo_time_ms);
}

// Placeholder until the layers land: clear and return.
#include "scene/scene.h"
#include "pngload/png_texture.h"
#include "sound/soundtrack.h"

int screen_width = 800;
int screen_height = 600;
GLuint bg_texture, fg_texture, scroll_texture;
GLuint blur_full_texture, blur_half_texture;

bool create_blur_targets() { return true; }

bool setup_scene() {
    glShadeModel(GL_SMOOTH);
    glClearColor(0.0f, 0.0f, 0.0f, 0.5f);
    glClearDepth(1.0f);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);
    glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);
    start_soundtrack();
    create_blur_targets();
    return true;
}

bool draw_frame() {
    sample_demo_clock();
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    return !(demo_time_ms * 0.001f > 142);
}

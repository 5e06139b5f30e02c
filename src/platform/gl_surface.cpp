#include "platform/gl_surface.h"

#include <SDL.h>

#include <cstdio>

void set_gl_surface_attributes() {
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, gl_channel_bits);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, gl_channel_bits);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, gl_channel_bits);
    SDL_GL_SetAttribute(SDL_GL_ALPHA_SIZE, gl_channel_bits);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, gl_depth_bits);
    SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 0);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
}

bool open_offscreen_gl(const char* program, int width_px, int height_px) {
    SDL_SetHint(SDL_HINT_VIDEODRIVER, "offscreen");
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        std::fprintf(stderr, "%s: cannot start SDL video: %s\n", program, SDL_GetError());
        return false;
    }
    set_gl_surface_attributes();
    SDL_Window* window =
        SDL_CreateWindow("Vornhal", SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, width_px,
                         height_px, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
    SDL_GLContext context = window ? SDL_GL_CreateContext(window) : nullptr;
    if (!context || SDL_GL_MakeCurrent(window, context) != 0) {
        std::fprintf(stderr, "%s: cannot create a GL context: %s\n", program, SDL_GetError());
        return false;
    }
    return true;
}

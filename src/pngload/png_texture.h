// PNG files as GL textures, over libpng. Needs a current GL context.
#pragma once

#include <GL/gl.h>
#include <cstdint>

// Passed as mipmap_mode: build a full mip chain by 2 x 2 averaging.
constexpr int png_build_mipmaps = -1;
// Passed as alpha_mode: keep an alpha channel exactly where the file has one.
constexpr int png_alpha = -2;

// What a load reports of the image: the file's own size (before any resizing),
// its bit depth and alpha bits (8 or 0).
struct png_image_info {
    uint32_t width;
    uint32_t height;
    uint32_t depth;
    uint32_t alpha;
};

// Creates a new GL_TEXTURE_2D name, binds it, sets wrapping and filters, decodes the
// file and uploads it (top row at t = 0, sides resized up to powers of two, mips as
// asked). Returns the name, or 0 on any failure with the new name left bound; the
// reason is then available from png_failure_reason().
GLuint bind_png_texture(const char* path, int mipmap_mode, int alpha_mode,
                        png_image_info* info, GLint wrap_st, GLint min_filter,
                        GLint mag_filter);

// Why the last bind_png_texture failed ("" after a success).
const char* png_failure_reason();

// PNG files as GL textures, over libpng. Needs a current GL context.
#pragma once

#include <GL/gl.h>

// Creates a new GL_TEXTURE_2D name, binds it, sets GL_REPEAT wrapping and GL_NEAREST
// filtering, decodes the file and uploads it: an alpha channel exactly where the file
// has one, the top row at t = 0, sides resampled up to powers of two within the GL
// limit, a full mip chain by 2 x 2 averaging. Returns the name, or 0 on any failure
// with the new name left bound; png_failure_reason() then says why.
GLuint load_png_texture(const char* path);

// Why the last load_png_texture failed ("" after a success).
const char* png_failure_reason();

// The toolkit's one way in to OpenGL: GLEW's entry points (which must come before gl.h) and GLU.
// Every GL call of the toolkit runs on a manager's render task with its context current.
#pragma once

#include <GL/glew.h>
#include <GL/glu.h>

namespace TB {

// The outline of a rectangle, in the current colour.
inline void DrawRectOutline(float x0, float y0, float x1, float y1) {
    glBegin(GL_LINE_LOOP);
    glVertex2f(x0, y0);
    glVertex2f(x1, y0);
    glVertex2f(x1, y1);
    glVertex2f(x0, y1);
    glEnd();
}

// The labels layer (1024 x 512, top row first) over the whole viewport in normalised device
// coordinates, for a window of width x height pixels: texels map one to one onto pixels.
inline void DrawLabelsLayerQuad(int width, int height, int layerWidth, int layerHeight) {
    const float s = float(width) / layerWidth, t = float(height) / layerHeight;
    glColor4f(1, 1, 1, 1);
    glBegin(GL_QUADS);
    glTexCoord2f(0, t), glVertex2f(-1, -1);
    glTexCoord2f(s, t), glVertex2f(1, -1);
    glTexCoord2f(s, 0), glVertex2f(1, 1);
    glTexCoord2f(0, 0), glVertex2f(-1, 1);
    glEnd();
}

// Linear filtering and clamp-to-edge on the texture bound to GL_TEXTURE_2D.
inline void SetLinearClampedFiltering() {
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
}

// Leaves the state glyph quads are drawn in (T2F_V3F arrays, texturing, alpha test, blending).
inline void EndTextDrawing() {
    glDisableClientState(GL_TEXTURE_COORD_ARRAY);
    glDisableClientState(GL_VERTEX_ARRAY);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_ALPHA_TEST);
    glDisable(GL_BLEND);
    glBindTexture(GL_TEXTURE_2D, 0);
}

// Unbinds the normal map from texture unit 1 (when one was bound) and the texture from unit 0.
inline void UnbindKnobTextures(bool normalUnit) {
    if (normalUnit) {
        glActiveTextureARB(GL_TEXTURE1_ARB);
        glBindTexture(GL_TEXTURE_2D, 0);
        glDisable(GL_TEXTURE_2D);
        glActiveTextureARB(GL_TEXTURE0_ARB);
    }
    glBindTexture(GL_TEXTURE_2D, 0);
    glDisable(GL_TEXTURE_2D);
}

}  // namespace TB

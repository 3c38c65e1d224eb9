#ifndef GL_FEEDBACK_H
#define GL_FEEDBACK_H

// Captures what GL draws, with window coordinates and colours, through GL's
// own feedback mode, in the current context (tests use a StandinViewer).

#include <GL/gl.h>

#include <vector>

struct FbVertex {
  float x, y;
  float r, g, b;
};

struct FbPrimitive {
  GLenum kind;  // GL_POINT_TOKEN, GL_LINE_TOKEN or GL_POLYGON_TOKEN
  std::vector<FbVertex> v;
};

void feedback_begin();
// The primitives drawn since feedback_begin. Mesa hands a polygon back as a
// fan of triangles; those are joined into the polygon again, in the order
// its vertices were given.
std::vector<FbPrimitive> feedback_end();

std::vector<FbPrimitive> only(const std::vector<FbPrimitive>& all, GLenum kind);

#endif

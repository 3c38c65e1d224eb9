#include "gl_feedback.h"

namespace {

std::vector<GLfloat>& buffer() {
  static std::vector<GLfloat> b(1 << 20);
  return b;
}

bool same(const FbVertex& a, const FbVertex& b) { return a.x == b.x && a.y == b.y; }

}  // namespace

void feedback_begin() {
  glFeedbackBuffer((GLsizei)buffer().size(), GL_3D_COLOR, buffer().data());
  glRenderMode(GL_FEEDBACK);
}

std::vector<FbPrimitive> feedback_end() {
  const GLint n = glRenderMode(GL_RENDER);
  std::vector<FbPrimitive> out;
  const GLfloat* f = buffer().data();
  auto vertex = [&](GLint& i) {
    FbVertex v{f[i], f[i + 1], f[i + 3], f[i + 4], f[i + 5]};
    i += 7;
    return v;
  };
  for (GLint i = 0; i < n;) {
    const GLenum token = (GLenum)f[i++];
    FbPrimitive p{token, {}};
    int count = 0;
    if (token == GL_POINT_TOKEN || token == GL_BITMAP_TOKEN || token == GL_DRAW_PIXEL_TOKEN ||
        token == GL_COPY_PIXEL_TOKEN) {
      count = 1;
    } else if (token == GL_LINE_TOKEN || token == GL_LINE_RESET_TOKEN) {
      p.kind = GL_LINE_TOKEN;
      count = 2;
    } else if (token == GL_POLYGON_TOKEN) {
      count = (int)f[i++];
    } else if (token == GL_PASS_THROUGH_TOKEN) {
      ++i;
      continue;
    }
    for (int k = 0; k < count; ++k) p.v.push_back(vertex(i));
    if (token != GL_POLYGON_TOKEN || count != 3) {
      out.push_back(p);
      continue;
    }
    // Triangle (v[i], v[i+1], v[0]) of a fan continues the previous polygon.
    if (!out.empty() && out.back().kind == GL_POLYGON_TOKEN && same(p.v[2], out.back().v[0]) &&
        same(p.v[0], out.back().v.back())) {
      out.back().v.push_back(p.v[1]);
    } else {
      out.push_back(FbPrimitive{GL_POLYGON_TOKEN, {p.v[2], p.v[0], p.v[1]}});
    }
  }
  return out;
}

std::vector<FbPrimitive> only(const std::vector<FbPrimitive>& all, GLenum kind) {
  std::vector<FbPrimitive> out;
  for (const FbPrimitive& p : all)
    if (p.kind == kind) out.push_back(p);
  return out;
}

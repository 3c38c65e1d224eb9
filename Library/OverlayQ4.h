#ifndef OVERLAYQ4_H
#define OVERLAYQ4_H

// The surface on which an effect draws its on-image widgets in the host's
// viewer, in OpenGL immediate mode inside the host's current context. All
// coordinates are view units; on-screen sizes are divided by the zoom so they
// keep their size on screen.

// Viewer pen event passed from the viewer to the widgets.
enum InterType : int {
  INTER_HOVER = 0,
  INTER_PRESS = 1,
  INTER_DRAG = 2,
  INTER_RELEASE = 3
};

class CrosshairOverlayQ4;
class LineOverlayQ4;
class AngleOverlayQ4;
class CircleOverlayQ4;
class RectangleOverlayQ4;

class OverlayQ4 {
 public:
  virtual ~OverlayQ4();
  virtual void RenderOverlay();
  virtual void HandleInteraction(InterType type, float x, float y);

  void BeginRender();
  void EndRender();

  void SetColour(int r, int g, int b, int a);
  void DrawPixel(float x, float y);
  void DrawLine(float x1, float y1, float x2, float y2);
  void DrawHandle(float x, float y, bool selected = false);
  float GrabHandleSize() const;

  void DrawLineDotted(float x1, float y1, float x2, float y2, int dash);
  void DrawEllipse(float cx, float cy, float w, float h, float angle, int dotted, int seglen,
                   float a0, float a1);
  void DrawRectangle(float cx, float cy, float w, float h, float angle, int dotted, int dash);
  void DrawCrosshair(float x, float y, int diagonals);
  void DrawArrow(float x1, float y1, float x2, float y2);
  float DrawText(float x, float y, const char* text, float sx, float sy, int draw);

  void DrawCrosshairOverlay(CrosshairOverlayQ4* w);
  void DrawLineOverlay(LineOverlayQ4* w);
  void DrawRectangleOverlay(RectangleOverlayQ4* w);
  void DrawAngleOverlay(AngleOverlayQ4* w);
  void DrawPointyAngleOverlay(AngleOverlayQ4* w);
  void DrawCircleOverlay(CircleOverlayQ4* w);

  float Aspect() const { return aspect_num / aspect_den; }

  // View fields, rewritten by the owner before every draw.
  int view_width = 0;
  int view_height = 0;
  float aspect_num = 1.0f;
  float aspect_den = 1.0f;
  float zoom = 1.0f;

 private:
  void SetWidgetColour(const int colour[4]);
  void EndOfDirection(const AngleOverlayQ4* w, float& x0, float& y0, float& x1, float& y1) const;
};

#endif

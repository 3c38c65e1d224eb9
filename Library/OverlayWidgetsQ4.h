#ifndef OVERLAYWIDGETSQ4_H
#define OVERLAYWIDGETSQ4_H

// On-image widgets the artist drags in the viewer. Geometry is kept as
// fractions of the drawn frame; the matching OverlayQ4 composition draws a
// widget and stores where its handles lie on screen. HandleInteraction is the
// host-independent half (hit test, geometry), HandleInteractionPlat the
// host-bound half (clamping against the bound host records and writing them).

#include "OverlayQ4.h"
#include "spark.h"

class OverlayControlQ4 {
 public:
  virtual ~OverlayControlQ4();
  // Press picks the first handle hit, hover marks it, drag moves the picked
  // handle, release ends the pick after the host half has seen it.
  virtual void HandleInteraction(InterType type, float x, float y);
  virtual void HandleInteractionPlat(InterType type, float x, float y);

  int colour[4] = {65535, 65535, 65535, 65535};
  bool shown = true;
  int picked = 0;
  int hover = 0;
  OverlayQ4* owner = nullptr;

 protected:
  // Index (1 to 3) of the first handle within grab distance, or 0.
  virtual int HitHandle(float x, float y) const;
  // Moves the geometry of the picked handle to the pen.
  virtual void DragPicked(float x, float y);
  bool Hits(float hx, float hy, float x, float y) const;
};

class CrosshairOverlayQ4 : public OverlayControlQ4 {
 public:
  void HandleInteractionPlat(InterType type, float x, float y) override;

  int number = 0;  // X is control number, Y is number + 1
  SparkFloat* x_record = nullptr;
  SparkFloat* y_record = nullptr;
  float x = 0.0f;
  float y = 0.0f;
  int diagonals = 0;
  float handle_x = 0.0f;
  float handle_y = 0.0f;

 protected:
  int HitHandle(float px, float py) const override;
  void DragPicked(float px, float py) override;
};

class LineOverlayQ4 : public OverlayControlQ4 {
 public:
  void HandleInteractionPlat(InterType type, float x, float y) override;

  int start_number = 0;  // start X, start Y = start_number + 1
  SparkFloat* start_x_record = nullptr;
  SparkFloat* start_y_record = nullptr;
  int end_number = 0;
  SparkFloat* end_x_record = nullptr;
  SparkFloat* end_y_record = nullptr;
  float x1 = 0.0f;
  float y1 = 0.0f;
  float x2 = 0.0f;
  float y2 = 0.0f;
  float handle_x = 0.0f;  // the middle of the line
  float handle_y = 0.0f;

 protected:
  int HitHandle(float px, float py) const override;
  void DragPicked(float px, float py) override;
};

class AngleOverlayQ4 : public OverlayControlQ4 {
 public:
  void HandleInteractionPlat(InterType type, float x, float y) override;

  int number = 0;
  SparkFloat* angle_record = nullptr;  // degrees
  float x = 0.0f;                      // origin
  float y = 0.0f;
  float length = 0.0f;                 // fraction of the view width
  float angle = 0.0f;                  // degrees
  float handle_x = 0.0f;               // end of the direction stroke
  float handle_y = 0.0f;

 protected:
  int HitHandle(float px, float py) const override;
  void DragPicked(float px, float py) override;
};

// Handles: 1 the ellipse point at -45 degrees, 2 at 0 (X radius), 3 at -90.
class CircleOverlayQ4 : public OverlayControlQ4 {
 public:
  void HandleInteractionPlat(InterType type, float x, float y) override;

  int x_number = 0;
  SparkFloat* x_record = nullptr;  // X diameter, percent
  int y_number = 0;
  SparkFloat* y_record = nullptr;  // Y diameter, percent
  float x = 0.0f;                  // centre
  float y = 0.0f;
  float x_diameter = 0.0f;         // both fractions of the view width
  float y_diameter = 0.0f;
  float angle = 0.0f;
  int circular = 0;
  int dotted = 0;
  float handle_x[3] = {0.0f, 0.0f, 0.0f};
  float handle_y[3] = {0.0f, 0.0f, 0.0f};

 protected:
  int HitHandle(float px, float py) const override;
  void DragPicked(float px, float py) override;
};

// Handles: 1 the corner (+w/2, -h/2), 2 the middle of the +w/2 edge, 3 the
// middle of the -h/2 edge.
class RectangleOverlayQ4 : public OverlayControlQ4 {
 public:
  void HandleInteractionPlat(InterType type, float x, float y) override;

  int x_number = 0;
  SparkFloat* x_record = nullptr;  // size X, percent
  int y_number = 0;
  SparkFloat* y_record = nullptr;  // size Y, percent
  float x = 0.0f;                  // centre
  float y = 0.0f;
  float size_x = 0.0f;             // fraction of the view width
  float size_y = 0.0f;             // fraction of the view height
  float angle = 0.0f;
  int square = 0;
  float handle_x[3] = {0.0f, 0.0f, 0.0f};
  float handle_y[3] = {0.0f, 0.0f, 0.0f};

 protected:
  int HitHandle(float px, float py) const override;
  void DragPicked(float px, float py) override;

 private:
  // The pen's offset from the centre, unrotated into the rectangle's frame.
  void PenInFrame(float px, float py, float& u, float& v) const;
};

#endif

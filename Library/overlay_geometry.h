#ifndef OVERLAY_GEOMETRY_H
#define OVERLAY_GEOMETRY_H

// Angle helpers shared by the overlay surface and the widgets' drags.

// Degrees to radians, single precision.
float overlay_radians(float degrees);

// Direction in degrees, 0 to 360, of the vector from (x1, y1) to (x2, y2);
// the vertical distance is scaled by y_scale first.
float overlay_direction_degrees(float x1, float y1, float x2, float y2, float y_scale);

#endif

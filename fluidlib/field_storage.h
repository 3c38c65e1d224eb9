#ifndef FIELD_STORAGE_H
#define FIELD_STORAGE_H

// What ScalarField and VectorField share: the two grid layouts, their
// storage, labels and the clamping of painted rectangles.
//
// FIELD_FFT stores exactly nx x ny cells; FIELD_DIRECT stores (nx + 2) x
// (ny + 2) with one ghost ring, interior 1..nx x 1..ny. Any other method has
// no storage.
enum { FIELD_FFT = 1, FIELD_DIRECT = 2 };

const int FIELD_LABEL_SIZE = 128;

// Cells of one stored component, row length and row count; 0 for another
// method, and 0 cells when the block would not fit the heap's sizes.
int field_cell_count(int method, int nx, int ny);
inline int field_stride(int method, int nx) {
  return method == FIELD_FFT ? nx : (method == FIELD_DIRECT ? nx + 2 : 0);
}
inline int field_rows(int method, int ny) { return field_stride(method, ny); }

// Zero-filled, 8-byte aligned, from the image heap; null when cells < 1 or
// the heap refuses.
float* field_storage_new(int cells);
void field_storage_free(float* block);

// At most FIELD_LABEL_SIZE - 1 characters; the rest of the label is zeroed.
void field_set_label(char* label, const char* text);

// First interior index, one past the last and the ghost width of one axis.
// False for a method without a layout.
bool field_axis_bounds(int method, int n, int& first, int& end, int& ghost);

// Orders each pair, then clamps every bound into the stored grid, so that a
// DIRECT rectangle may reach into the ghost ring. False for a method without
// a layout.
bool field_clamp_rectangle(int method, int nx, int ny, int& x0, int& y0, int& x1, int& y1);

// DIRECT layout, row stride nx + 2. Each ghost corner becomes the mean of
// its two ghost neighbours.
void field_ghost_corners(float* d, int nx, int ny);
// Ghost rows and columns copy their interior neighbours, then the corners.
void field_continuity_boundaries(float* d, int nx, int ny);

// The value range a rendering computed, kept for the next one.
struct FieldRenderRange {
  float min, max;
  unsigned char valid;
};

#endif

#include "SourceQ4.h"

#include "ImageQ4.h"
#include "dl_image_exchange.h"
#include "effect_services.h"
#include "print_error.h"

SourceQ4::SourceQ4()
    : temp_id(nullptr), temp_buf(nullptr), image(nullptr), enabled(1), clip(0), deep12(0) {}

void SourceQ4::GetValue(double at, ImageQ4*& target) {
  if (!target) return;
  const double aspect = target->pixel_aspect;
  if (!temp_id || !temp_buf) {
    PrintError(
        "Random Frame Access requested via GetValue(), but no temp buf allocated. (DLRandom in "
        ".plugin?)\n");
    return;
  }
  sparkGetFrame(clip, static_cast<int>(at + 0.5), temp_buf->buffer);
  ImageQ4* loaded =
      deep12 ? ConvertFromDLImage12(temp_buf->buffer, DLwidth, DLheight, aspect, DLscalesr, target, 1)
             : ConvertFromDLImage8(temp_buf->buffer, DLwidth, DLheight, aspect, DLscalesr, target, 1);
  if (loaded) target = loaded;
}

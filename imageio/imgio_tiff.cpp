// The TIFF driver's record, closing, whole images, the header and its
// entry's operation record.
#include "imgio_tiff.h"

#include "imgio_messages.h"
#include "imgio_tiff_record.h"
#include "imgio_whole_lines.h"
#include "q4_memory.h"

const imgio_driver tiff_driver = {TiffOpenf,   TiffCreatef, TiffReadl,    TiffWritel,  TiffReadl16,
                                  TiffWritel16, TiffClosef, TiffReadb,    TiffWriteb,  TiffReadb16,
                                  TiffWriteb16, TiffSheader, TiffMakeSeek, TiffSeekTo};

namespace {

void free_block(void* block) {
  if (block) q4_free_c(block, __FILE__, __LINE__);
}

const char* compression_name(int compression) {
  switch (compression) {
    case 1: return "None";
    case 2: return "CCITT modified Huffman RLE";
    case 3: return "CCITT Group 3 fax encoding";
    case 4: return "CCITT Group 4 fax encoding";
    case 5: return "Lempel-Ziv & Welch";
    case 32766: return "NeXT 2-bit RLE";
    case 32771: return "CCITT modified Huffman RLE word aligned";
    case 32773: return "Macintosh RLE";
    case 32809: return "ThunderScan RLE";
    case 32900: return "1986ish Pixar picio RLE";
    case 32901: return "Silicon Graphics RLE";
    default: return nullptr;
  }
}

// Where the first pixel of the file lies in the picture, by Orientation.
const char* const first_pixel[8] = {
    "top left of image",     "top right of image",     "bottom right of image",     "bottom left of image",
    "top left, transposed", "top right, transposed", "bottom right, transposed", "bottom left, transposed"};

const char* photometric_meaning(int photometric) {
  switch (photometric) {
    case 0: return "Minimum value is white";
    case 1: return "Minimum value is black";
    case 2: return "RGB colour";
    case 3: return "Colour map is indexed";
    case 4: return "Holdout mask";
    case 5: return "Colour separations (CMYK)";
    case 6: return "Luminance and chrominance (YCbCr)";
    case 8: return "CIE L*a*b*";
    case 32768: return "Depth information";
    default: return nullptr;
  }
}

}  // namespace

TiffRecord* tiff_new_record() {
  TiffRecord* t = static_cast<TiffRecord*>(q4_calloc_c(1, sizeof(TiffRecord), __FILE__, __LINE__));
  if (t) t->strip_index = -1;
  return t;
}

void tiff_release(TiffRecord* t) {
  if (!t) return;
  if (t->tif) TIFFClose(t->tif);
  tiff_output_release(&t->output);
  free_block(t->window);
  free_block(t->scanline);
  free_block(t->strip);
  free_block(t->other);
  free_block(t);
}

int TiffClosef(imginfo* h) {
  TiffRecord* t = tiff_record(h);
  if (!t) return 0;
  h->driver = nullptr;
  // TIFFClose reports nothing: a strip or directory that cannot be written
  // shows only here.
  const bool flushed =
      h->mode != IMGIO_WRITE || !t->tif ||
      (tiff_write_pending(t) && TIFFFlush(t->tif) == 1 && tiff_output_flush(&t->output));
  tiff_release(t);
  return flushed ? 1 : 0;
}

int TiffReadb(imginfo* h) { return imgio_whole_read(h, tiff_driver, false); }
int TiffReadb16(imginfo* h) { return imgio_whole_read(h, tiff_driver, true); }
int TiffWriteb(imginfo* h) { return imgio_whole_write(h, tiff_driver, false); }
int TiffWriteb16(imginfo* h) { return imgio_whole_write(h, tiff_driver, true); }

int TiffSheader(imginfo* h) {
  const TiffRecord* t = tiff_record(h);
  if (!t) return 0;
  messprintf(IMSSYS_INFO, "\nTIFF Specific Image Information.\n");
  messprintf(IMSSYS_INFO, "================================\n");
  messprintf(IMSSYS_INFO, "         Bits: %d\n", t->bits);
  messprintf(IMSSYS_INFO, "     Channels: %d\n", t->samples);
  messprintf(IMSSYS_INFO, t->planar == PLANARCONFIG_SEPARATE ? "   Interleave: by band.\n"
                                                              : "   Interleave: by pixel.\n");
  if (const char* name = compression_name(t->compression))
    messprintf(IMSSYS_INFO, "  Compression: %s.\n", name);
  else
    messprintf(IMSSYS_INFO, "  Compression: scheme %d.\n", t->compression);
  if (t->orientation >= 1 && t->orientation <= 8)
    messprintf(IMSSYS_INFO, "  Orientation: 1st. pixel = %s.\n", first_pixel[t->orientation - 1]);
  if (const char* meaning = photometric_meaning(t->photometric))
    messprintf(IMSSYS_INFO, "  Value meaning: %s.\n", meaning);
  return 1;
}

// Lines are read at the handle's line whatever came before: nothing to
// prepare, nowhere to move.
int TiffMakeSeek(imginfo*) { return 1; }
int TiffSeekTo(imginfo*) { return 1; }

int TiffGetCsp(imginfo* h) {
  const TiffRecord* t = imgrunby(h, tiff_driver) ? tiff_record(h) : nullptr;
  if (!t) return 0;
  return t->photometric == PHOTOMETRIC_SEPARATED ? 2 : 1;
}

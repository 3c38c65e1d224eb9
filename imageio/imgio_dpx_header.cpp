// The Cineon header as text, every line at level 1. Text fields are not
// necessarily terminated: each prints within its field.
#include <cstdint>

#include "imgio_dpx_internal.h"
#include "imgio_messages.h"

namespace {

const char* const orient_names[] = {"Line: left -> right; Page: top -> bottom",
                                    "Line: left -> right; Page: bottom -> top",
                                    "Line: right -> left; Page: top -> bottom",
                                    "Line: right -> left; Page: bottom -> top",
                                    "Line: top -> bottom; Page: left -> right",
                                    "Line: top -> bottom; Page: right -> left",
                                    "Line: bottom -> top; Page: left -> right",
                                    "Line: bottom -> top; Page: right -> left",
                                    "Unknown"};
const char* const chdb0_names[] = {"Universal metric", "Kodak specific", "Unknown"};
const char* const chdb1_names[] = {"Black & White",  "Red density",      "Green density",   "Blue density",
                                   "Red CCIR XA/11", "Green CCIR XA/11", "Blue CCIR XA/11", "Unknown"};
const char* const leave_names[] = {"Pixel", "Line", "Channel", "Unknown"};
const char* const cell_names[] = {"Bit fields",
                                  "Byte boundaries, left justified",
                                  "Byte boundaries, right justified",
                                  "Word boundaries, left justified",
                                  "Word boundaries, right justified",
                                  "Longword boundaries, left justified",
                                  "Longword boundaries, right justified",
                                  "Unknown"};
const char* const pack_names[] = {"One pixel per cell", "Maybe many pixels per cell"};
const char* const sign_names[] = {"Unsigned", "Signed"};
const char* const sense_names[] = {"Positive", "Negative"};

// An out-of-range code names the table's last entry.
template <size_t N>
const char* name(const char* const (&table)[N], unsigned code) {
  return table[code < N ? code : N - 1];
}

// A text field of size bytes: up to its first NUL.
int length(const uint8_t* field, int size) {
  int n = 0;
  while (n < size && field[n]) ++n;
  return n;
}

void text(const char* format, const uint8_t* field, int size) {
  messprintf(IMSSYS_INFO, format, length(field, size), reinterpret_cast<const char*>(field));
}

void pair(const char* format, const uint8_t* at) {
  messprintf(IMSSYS_INFO, format, double(dpx_be_float(at)), double(dpx_be_float(at + 4)));
}

}  // namespace

void dpx_print_header(const uint8_t* g, const uint8_t* industry) {
  const int info = IMSSYS_INFO;
  messprintf(info, "Cineon Generic header\n");
  messprintf(info, "=====================\n");
  messprintf(info, " File information\n");
  messprintf(info, " ----------------\n");
  text("          Format version: %.*s\n", g + DPX_VERSION, 8);
  messprintf(info, "       Image data offset: %u bytes\n", imgio_be32(g + DPX_DATA_OFFSET));
  messprintf(info, "  Variable header length: %u bytes\n", imgio_be32(g + DPX_VARIABLE_LENGTH));
  messprintf(info, "          Full file size: %u bytes\n", imgio_be32(g + DPX_FILE_SIZE));
  text("               File name: %.*s\n", g + DPX_FILE_NAME, 100);
  text("           Creation date: %.*s\n", g + DPX_DATE, 12);
  text("           Creation time: %.*s\n", g + DPX_TIME, 12);
  messprintf(info, "\n");
  messprintf(info, " Image information\n");
  messprintf(info, " -----------------\n");
  messprintf(info, "   Orientation: %s\n", name(orient_names, g[DPX_ORIENTATION]));
  messprintf(info, "      Channels: %d\n", g[DPX_CHANNELS]);
  pair("   White point: (%f,%f)\n", g + DPX_WHITE);
  pair("   Red primary: (%f,%f)\n", g + DPX_WHITE + 8);
  pair(" Green primary: (%f,%f)\n", g + DPX_WHITE + 16);
  pair("  Blue primary: (%f,%f)\n", g + DPX_WHITE + 24);
  text("         Label: %.*s\n", g + DPX_LABEL, 200);
  for (int c = 0; c < g[DPX_CHANNELS] && c < 8; ++c) {
    const uint8_t* ch = dpx_channel(g, c);
    messprintf(info, "\n");
    messprintf(info, " (Channel %d information)\n", c);
    messprintf(info, "      Metric type: %s\n", name(chdb0_names, ch[0]));
    messprintf(info, "   Data semantics: %s\n", name(chdb1_names, ch[1]));
    messprintf(info, "             Bits: %d\n", ch[2]);
    messprintf(info, "           Pixels: %d\n", int(imgio_be32(ch + 4)));
    messprintf(info, "            Lines: %d\n", int(imgio_be32(ch + 8)));
    messprintf(info, "        Min. data: %f for quantity %f\n", double(dpx_be_float(ch + 12)),
               double(dpx_be_float(ch + 16)));
    messprintf(info, "        Max. data: %f for quantity %f\n", double(dpx_float(imgio_le32(ch + 20))),
               double(dpx_be_float(ch + 24)));
  }
  messprintf(info, "\n");
  messprintf(info, " Data format information\n");
  messprintf(info, " -----------------------\n");
  messprintf(info, " Channel interleave: %s\n", name(leave_names, g[DPX_INTERLEAVE]));
  messprintf(info, "     Data cell type: %s\n", name(cell_names, g[DPX_PACKING] & 0x7f));
  messprintf(info, "       Cell packing: %s\n", pack_names[g[DPX_PACKING] >> 7]);
  messprintf(info, "          Data type: %s\n", name(sign_names, g[DPX_SIGNED]));
  messprintf(info, "        Image sense: %s\n", name(sense_names, g[DPX_SENSE]));
  messprintf(info, "    End of line pad: %d bytes\n", int(imgio_be32(g + DPX_EOL_PAD)));
  messprintf(info, " End of channel pad: %d bytes\n", int(imgio_be32(g + DPX_EOC_PAD)));
  messprintf(info, "\n");
  messprintf(info, " Origination information\n");
  messprintf(info, " -----------------------\n");
  messprintf(info, " X offset wrt source: %d\n", int32_t(imgio_be32(g + DPX_X_OFFSET)));
  messprintf(info, " Y offset wrt source: %d\n", int32_t(imgio_be32(g + DPX_Y_OFFSET)));
  text("        Input device: %.*s\n", g + DPX_DEVICE, 64);
  text("        Device model: %.*s\n", g + DPX_MODEL, 32);
  text("       Device serial: %.*s\n", g + DPX_SERIAL, 32);
  messprintf(info, "      X samples / mm: %f\n", double(dpx_be_float(g + DPX_X_SAMPLES)));
  messprintf(info, "      Y samples / mm: %f\n", double(dpx_be_float(g + DPX_Y_SAMPLES)));
  messprintf(info, "       Capture gamma: %f\n", double(dpx_be_float(g + DPX_GAMMA)));
  messprintf(info, "\n");
  messprintf(info, "Motion Picture Industry Specific Header\n");
  messprintf(info, "=======================================\n");
  if (industry[DPX_PERFS] == 255)
    messprintf(info, " Perfs offset: <unspecified>\n");
  else
    messprintf(info, " Perfs offset: %d\n", industry[DPX_PERFS]);
  const uint32_t prefix = imgio_be32(industry + DPX_PREFIX), count = imgio_be32(industry + DPX_COUNT);
  if (prefix == 0xFFFFFFFFu)
    messprintf(info, "       Prefix: <unspecified>\n");
  else
    messprintf(info, "       Prefix: %u\n", prefix);
  if (count == 0xFFFFFFFFu)
    messprintf(info, "        Count: <unspecified>\n");
  else
    messprintf(info, "        Count: %u\n", count);
  text("       Format: %.*s\n", industry + DPX_FORMAT, 32);
  messprintf(info, " Frame in seq: %u\n", imgio_be32(industry + DPX_FRAME));
  messprintf(info, "   Frame rate: %f per sec.\n", double(dpx_be_float(industry + DPX_RATE)));
  text("        Slate: %.*s\n", industry + DPX_SLATE, 200);
}

#ifndef Q4_FILENAME_H
#define Q4_FILENAME_H

// Path-string functions. Results in the shared path buffer (4096 characters)
// are overwritten by the next call that uses it; a result that would not fit
// gives null.
enum { Q4_PATH_SIZE = 4096 };

char* file_name_lastcomponent(char* path);
const char* file_name_lastcomponent(const char* path);
char* file_name_extension(char* path);
const char* file_name_extension(const char* path);
bool file_name_strip_extension(const char* src, char* dst);
char* file_name_before_lastcomponent(const char* path, char* out);
char* file_name_component(const char* path, int index, char* out);
char* file_name_add_component(char* path, const char* component);
char* file_name_concat(const char* dir, const char* name);
void file_name_clean(char* text, int blank, int slash);
int file_name_compare(const char* a, const char* b);

// Numbered image file names: "/shots/take_0042.tif" has base "take_",
// digits "0042" and extension ".tif". Returns the digit count, -1 without an
// extension. digits may be null.
int file_name_parse_image_file_name(const char* path, char* base, char* ext, char* digits);
// out = base + frame in ndigits zero-padded digits + "." + ext (ext with or
// without its dot); base + "." + ext when ndigits < 1. Returns the length.
int file_name_format_image_file_name(const char* base, const char* ext, int frame, int ndigits,
                                     char* out);

#endif

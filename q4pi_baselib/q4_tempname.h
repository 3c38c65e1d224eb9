#ifndef Q4_TEMPNAME_H
#define Q4_TEMPNAME_H

// Temporary and unique names.
char* file_get_temp_name();
char* uuid_new();
void uuid_delete(char* text);
void file_get_temp_name_ex(const char* prefix, char* out);
char* file_get_temp_name_ex_dyn(const char* prefix);

extern "C" {
void file_get_temp_name_ex_c(const char* prefix, char* out);
char* file_get_temp_name_ex_dyn_c(const char* prefix);
}

#endif

#ifndef AMPLITUDE_IMPORT_H
#define AMPLITUDE_IMPORT_H

#include "spark.h"

// Control that receives the imported amplitude keys.
const int AMPLITUDE_CONTROL = 93;

// "Import Amplitude File" button: opens the host's file browser in the
// working directory; the chosen file goes to aiff_file_CB. Returns null.
void* import_aiff_CB(int reason, SparkHostInfo info);

// Reads an amplitude channel file ("Channel Amplitude %d:", "Size %d", then
// keys of "Key %d", "Frame %d", "Value %f", "End") and sets one curve key on
// the amplitude control per key that yields its three numbers, stopping at
// the first that does not. A negative size holds no keys.
void aiff_file_CB(const char* path);

#endif

#ifndef PRINT_ERROR_H
#define PRINT_ERROR_H

// Shows text to the artist through the host, waits 2 seconds so it can be
// read, and repeats it on standard error as "SPARK_MESSAGE::\t<text>".
void PrintError(const char* text);

#endif

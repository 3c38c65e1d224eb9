#ifndef Q4_BYTEORDER_H
#define Q4_BYTEORDER_H

unsigned word32_swab(unsigned value);
unsigned short word16_swab(unsigned short value);
float float_swab(float value);
void word32_swab_vec(unsigned* values, int count);
void word16_swab_vec(unsigned short* values, int count);
void float_swab_vec(float* values, int count);

#endif

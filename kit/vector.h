// Vector routines on three consecutive floats; the destination comes first.
#pragma once

void vec_copy(float *va, const float *vb);
float vec_len(const float *v);
void vec_add(float *v, const float *va, const float *vb);
void vec_sub(float *v, const float *va, const float *vb);
// v = va x vb; v must not alias va or vb (it is written while they are read).
void crossp(float *v, const float *va, const float *vb);
// Scales v to unit length; a vector shorter than 1e-10 is scaled by 1e10.
void vec_normalize(float *v);

#include "vector.h"

#include <cmath>

void vec_copy(float *va, const float *vb)
{
    va[0] = vb[0];
    va[1] = vb[1];
    va[2] = vb[2];
}

float vec_len(const float *v)
{
    double x = v[0], y = v[1], z = v[2];
    return (float)std::sqrt(x * x + y * y + z * z);
}

void vec_add(float *v, const float *va, const float *vb)
{
    v[0] = va[0] + vb[0];
    v[1] = va[1] + vb[1];
    v[2] = va[2] + vb[2];
}

void vec_sub(float *v, const float *va, const float *vb)
{
    v[0] = va[0] - vb[0];
    v[1] = va[1] - vb[1];
    v[2] = va[2] - vb[2];
}

void crossp(float *v, const float *va, const float *vb)
{
    v[0] = (float)((double)va[1] * vb[2] - (double)va[2] * vb[1]);
    v[1] = (float)((double)va[2] * vb[0] - (double)va[0] * vb[2]);
    v[2] = (float)((double)va[0] * vb[1] - (double)va[1] * vb[0]);
}

void vec_normalize(float *v)
{
    double len = vec_len(v);
    if (len < 1e-10)
        len = 1e-10;
    float inverse = (float)(1.0 / len);
    v[0] = v[0] * inverse;
    v[1] = v[1] * inverse;
    v[2] = v[2] * inverse;
}

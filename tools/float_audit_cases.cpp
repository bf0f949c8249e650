// Cases for tools/float-audit.sh, which checks itself on this file first:
// it must report exactly the lines marked "reported". Never compiled.
#include <cmath>

double widen(double v) { return v; }

float stored(float a, float b) { float s = a + b; return s * 0.5f; }
float stored_element(float *v, float a) { v[0] = v[1] * a; return v[0]; }
float passed(float a, float b) { return std::floor((double)a - b) + 0.0f; }
double intended(float a, float b) { return ((double)a + b) * 0.05; }
double widened(float a, float b) { return (a + b) * 0.05; } // reported
double cast(float a, float b) { return (double)(a * b); } // reported
double argument(float a, float b) { return widen(a - b); } // reported
float chained(float a, float b, float c) { return a * b + c; } // reported
bool compared(float a, float b, double c) { return a - b < c; } // reported
bool compared_float(float a, float b) { return a / b < 1.0f; } // reported
float compound(float v, float a, float b) { v += a / b; return v; } // reported
float root(float a) { return std::sqrt(a); } // reported
float root_f(float a) { return sqrtf(a); } // reported
double root_double(float a) { return sqrt(a); }
double exact(float a) { return std::floor(a) - (double)std::fabs(a); }

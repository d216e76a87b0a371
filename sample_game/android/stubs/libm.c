/* Link-time stand-in for Android's libm.so. */
double sqrt(double x) { return x; }
float sqrtf(float x) { return x; }
double floor(double x) { return x; }
float floorf(float x) { return x; }

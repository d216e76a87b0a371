/* Stand-in for libswresample: only what the stand-in game calls. */
unsigned swresample_version(void) { return (4u << 16) | (12u << 8) | 100u; }

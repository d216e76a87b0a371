/* Stand-in for libavutil: only what the stand-in game calls. */
unsigned avutil_version(void) { return (58u << 16) | (29u << 8) | 100u; }

/* Stand-in for libavcodec: only what the stand-in game calls. */
unsigned avcodec_version(void) { return (60u << 16) | (31u << 8) | 102u; }

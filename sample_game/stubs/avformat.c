/* Stand-in for libavformat: only what the stand-in game calls. */
unsigned avformat_version(void) { return (60u << 16) | (16u << 8) | 100u; }

/* The part of libavformat the stand-in game uses. */
#ifndef ZQR_LIBAVFORMAT_H
#define ZQR_LIBAVFORMAT_H

/* The library's version: major << 16 | minor << 8 | micro. */
unsigned avformat_version(void);

#endif

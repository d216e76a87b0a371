/* The part of libavcodec the stand-in game uses. */
#ifndef ZQR_LIBAVCODEC_H
#define ZQR_LIBAVCODEC_H

/* The library's version: major << 16 | minor << 8 | micro. */
unsigned avcodec_version(void);

#endif

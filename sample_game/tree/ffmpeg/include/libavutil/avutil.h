/* The part of libavutil the stand-in game uses. */
#ifndef ZQR_LIBAVUTIL_H
#define ZQR_LIBAVUTIL_H

/* The library's version: major << 16 | minor << 8 | micro. */
unsigned avutil_version(void);

#endif

/* The part of libswresample the stand-in game uses. */
#ifndef ZQR_LIBSWRESAMPLE_H
#define ZQR_LIBSWRESAMPLE_H

/* The library's version: major << 16 | minor << 8 | micro. */
unsigned swresample_version(void);

#endif

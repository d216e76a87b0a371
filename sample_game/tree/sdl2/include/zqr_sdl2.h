/* Placeholder for the SDL2 headers the game builds against. */
#ifndef ZQR_SDL2_H
#define ZQR_SDL2_H
#define ZQR_HAVE_SDL2 0
#endif

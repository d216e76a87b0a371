/* Placeholder for the FFmpeg headers the game builds against. */
#ifndef ZQR_FFMPEG_H
#define ZQR_FFMPEG_H
#define ZQR_HAVE_FFMPEG 0
#endif

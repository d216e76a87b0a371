/* Stand-in for the game's icon resource object (Windows builds). */
const unsigned char quillmarsh_icon_x64[16] = {0, 0, 1, 0, 1, 0, 32, 32, 0, 0, 1, 0, 32, 0, 0, 0};

/* Stand-in for SDL2 (Windows builds of the game link it). */
static unsigned initialised;

int SDL_Init(unsigned flags) {
    initialised |= flags | 1u;
    return 0;
}

void SDL_Quit(void) { initialised = 0; }

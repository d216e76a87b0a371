/* Stand-in for Clang's builtins archive for aarch64 Android: the run-time
   helpers the compiler may call. */
void __clear_cache(void *start, void *end) { (void)start; (void)end; }

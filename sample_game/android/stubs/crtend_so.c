/* The end object of a shared library. */
__attribute__((visibility("hidden"), used)) static const int qm_crtend_so = 0;

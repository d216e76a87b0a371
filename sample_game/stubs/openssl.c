/* Stand-in for OpenSSL 3's libssl and libcrypto in the aarch64 sysroot: the
   game links them by their sonames; the stand-in calls nothing in them. */
unsigned long OpenSSL_version_num(void) { return 0x30000000UL; }

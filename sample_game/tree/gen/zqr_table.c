/* Identity of the game executable these sources were generated from: the
   FNV-1a 64 hash of the listed ranges of its image, each given by its
   virtual address and its length in bytes. */
#include <stdint.h>

const uint64_t zqr_data_hash = 0x5EFB7D9434D35434;

const struct { uint32_t address, length; } zqr_hash_ranges[] = {
    {0x00401000, 16 },
};

const uint32_t zqr_hash_range_count = sizeof zqr_hash_ranges / sizeof zqr_hash_ranges[0];

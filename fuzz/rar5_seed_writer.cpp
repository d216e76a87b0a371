// Writes small RAR5 archives (the tests' fixtures, cut down) as seeds for
// fuzz_rar5 into the folder given.
#include <cstdio>
#include <string>

#include "tests/rar5/rar5_samples.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: rar5_seed_writer FOLDER\n");
        return 2;
    }
    for (rar5_samples::Fixture f : rar5_samples::fixtures()) {
        for (rar5_writer::Entry& e : f.entries) {
            e.content.resize(std::min<size_t>(e.content.size(), 4000));
            for (rar5_writer::Filter_Spec& s : e.options.filters) {
                s.start = std::min<size_t>(s.start, 2000);
                s.length = std::min<size_t>(s.length, 4000 - s.start - 8);
            }
            e.options.block_tokens = std::min<size_t>(e.options.block_tokens, 500);
        }
        std::string bytes = rar5_writer::archive(f.entries);
        std::string path = std::string(argv[1]) + "/" + f.name;
        FILE* out = std::fopen(path.c_str(), "wb");
        if (!out || std::fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size() || std::fclose(out) != 0) {
            std::fprintf(stderr, "rar5_seed_writer: cannot write %s\n", path.c_str());
            return 1;
        }
    }
    return 0;
}

// What both back ends of open files share.
#include "engine/kt_system/file.h"

File& File::operator=(File&& o) noexcept {
    if (this != &o) {
        file_close(*this);
        h = o.h;
        disk_full = o.disk_full;
        o.h = -1;
    }
    return *this;
}

File::~File() { file_close(*this); }


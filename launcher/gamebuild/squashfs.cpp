#include "launcher/gamebuild/squashfs.h"

#include <mutex>

#include "engine/kt_system/clock.h"
#include "engine/kt_system/file.h"
#include "launcher/core/format.h"

namespace {

std::mutex g_limits_lock;
Sq_Limits g_limits;

struct Sq_Node {
    std::string name;
    int file = -1;                 // index into the file list; -1 for a folder
    std::vector<uint32_t> children;
    uint32_t inode_number = 0;
    uint64_t inode_ref = 0;        // metadata block start << 16 | offset in the block
    uint32_t subfolders = 0;
    uint32_t data_start = 0;
};

struct Writer {
    explicit Writer(const std::vector<Sq_Entry>& list) : files(list) {}
    const std::vector<Sq_Entry>& files;
    Sq_Limits limits;
    uint32_t mtime = 0;
    std::vector<Sq_Node> nodes;
    uint64_t data_end = 96;          // the file data follows the superblock
    std::vector<size_t> order;       // the files in the order of their data
    std::string inodes;
    std::string dirs;
    uint32_t counter = 0;
    std::string err;

    bool fail(std::string message) {
        if (err.empty()) err = std::move(message);
        return false;
    }
    // A value stored in 32 bits.
    bool fits(uint64_t v, std::string_view what) {
        if (v <= limits.u32_max) return true;
        return fail(fmt("The AppImage's SquashFS image cannot hold %s: it passes the format's 4 GiB limit.", what));
    }
};

void put16(std::string& out, uint16_t v) {
    out.push_back(char(v & 0xff));
    out.push_back(char(v >> 8));
}
void put32(std::string& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(char((v >> (8 * i)) & 0xff));
}
void put64(std::string& out, uint64_t v) {
    for (int i = 0; i < 8; ++i) out.push_back(char((v >> (8 * i)) & 0xff));
}
void set16(std::string& out, size_t at, uint16_t v) {
    out[at] = char(v & 0xff);
    out[at + 1] = char(v >> 8);
}
void set32(std::string& out, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) out[at + i] = char((v >> (8 * i)) & 0xff);
}
void set64(std::string& out, size_t at, uint64_t v) {
    for (int i = 0; i < 8; ++i) out[at + i] = char((v >> (8 * i)) & 0xff);
}

// Where a position of an uncompressed metadata buffer lands once it is cut
// into blocks of 8192 bytes with a 2-byte header each.
uint64_t meta_block(uint64_t pos) { return (pos / sq_meta_size) * (sq_meta_size + 2); }
uint64_t meta_ref(uint64_t pos) { return meta_block(pos) << 16 | (pos % sq_meta_size); }

// Appends a metadata buffer as blocks stored uncompressed.
void sq_put_meta(std::string& image, const std::string& buffer) {
    for (size_t at = 0; at < buffer.size(); at += sq_meta_size) {
        size_t n = std::min<size_t>(sq_meta_size, buffer.size() - at);
        put16(image, uint16_t(n | 0x8000));
        image.append(buffer, at, n);
    }
}

void sq_inode_header(Writer& w, uint16_t type, uint16_t mode, uint32_t number) {
    put16(w.inodes, type);
    put16(w.inodes, mode);
    put16(w.inodes, 0);   // uid index
    put16(w.inodes, 0);   // gid index
    put32(w.inodes, w.mtime);
    put32(w.inodes, number);
}

bool build_tree(Writer& w) {
    w.nodes.push_back(Sq_Node{});
    for (size_t f = 0; f < w.files.size(); ++f) {
        std::string_view path = w.files[f].path;
        uint32_t at = 0;
        size_t start = 0;
        for (;;) {
            size_t slash = path.find('/', start);
            bool last = slash == std::string::npos;
            std::string name(path.substr(start, last ? std::string_view::npos : slash - start));
            if (name.empty() || name == "." || name == "..")
                return w.fail(fmt("The AppImage cannot hold the path \"%s\": it has an empty, \".\" or \"..\" part.", path));
            if (name.size() > 256)
                return w.fail(fmt("The AppImage cannot hold the path \"%s\": a name is longer than 256 bytes.", path));
            uint32_t found = 0;
            for (uint32_t c : w.nodes[at].children) {
                if (w.nodes[c].name == name) found = c;
            }
            if (found != 0 && (last || w.nodes[found].file >= 0))
                return w.fail(fmt("The AppImage cannot hold the path \"%s\" twice.", path));
            if (found == 0) {
                Sq_Node node;
                node.name = name;
                node.file = last ? int(f) : -1;
                found = uint32_t(w.nodes.size());
                w.nodes.push_back(std::move(node));
                w.nodes[at].children.push_back(found);
            }
            if (last) break;
            at = found;
            start = slash + 1;
        }
    }
    // Names in byte order, a stable insertion sort.
    for (Sq_Node& n : w.nodes) {
        for (size_t i = 1; i < n.children.size(); ++i) {
            uint32_t c = n.children[i];
            size_t j = i;
            while (j > 0 && w.nodes[n.children[j - 1]].name > w.nodes[c].name) {
                n.children[j] = n.children[j - 1];
                --j;
            }
            n.children[j] = c;
        }
    }
    return true;
}

// Numbers a folder's subtree (contents first, the folder last) and places
// the file data.
bool number(Writer& w, uint32_t index) {
    for (uint32_t c : w.nodes[index].children) {
        if (w.nodes[c].file < 0) {
            if (!number(w, c)) return false;
            w.nodes[index].subfolders++;
            continue;
        }
        const Sq_Entry& file = w.files[size_t(w.nodes[c].file)];
        if (!w.fits(w.data_end, fmt("the data of %s", file.path)) || !w.fits(file.size, file.path)) return false;
        w.nodes[c].inode_number = ++w.counter;
        w.nodes[c].data_start = uint32_t(w.data_end);
        w.data_end += file.size;
        w.order.push_back(size_t(w.nodes[c].file));
    }
    w.nodes[index].inode_number = ++w.counter;
    return true;
}

bool take_inode_ref(Writer& w, Sq_Node& node, std::string_view what) {
    node.inode_ref = meta_ref(w.inodes.size());
    return w.fits(node.inode_ref >> 16, what);
}

bool write_dir(Writer& w, uint32_t index, uint32_t parent, const std::string& where) {
    std::string shown = where.empty() ? std::string("/") : where;
    for (uint32_t c : w.nodes[index].children) {
        Sq_Node& child = w.nodes[c];
        std::string path = where.empty() ? child.name : where + "/" + child.name;
        if (child.file < 0) {
            if (!write_dir(w, c, w.nodes[index].inode_number, path)) return false;
            continue;
        }
        const Sq_Entry& file = w.files[size_t(child.file)];
        if (!take_inode_ref(w, child, fmt("the inodes up to %s", path))) return false;
        sq_inode_header(w, 2, file.executable ? 0755 : 0644, child.inode_number);
        put32(w.inodes, child.data_start);
        put32(w.inodes, 0xFFFFFFFFu);   // no fragment
        put32(w.inodes, 0);
        put32(w.inodes, uint32_t(file.size));
        for (uint64_t done = 0; done < file.size; done += sq_block_size) {
            uint64_t n = std::min<uint64_t>(sq_block_size, file.size - done);
            put32(w.inodes, uint32_t(n) | 0x01000000u);   // stored uncompressed
        }
    }

    // The listing, in runs that share a metadata block and a base number.
    Sq_Node& self = w.nodes[index];
    size_t listing = w.dirs.size();
    const std::vector<uint32_t>& kids = self.children;
    for (size_t i = 0; i < kids.size();) {
        const Sq_Node& first = w.nodes[kids[i]];
        size_t end = i + 1;
        while (end < kids.size() && end - i < 256) {
            const Sq_Node& next = w.nodes[kids[end]];
            int64_t diff = int64_t(next.inode_number) - int64_t(first.inode_number);
            if ((next.inode_ref >> 16) != (first.inode_ref >> 16) || diff > 32766 || diff < -32766) break;
            ++end;
        }
        put32(w.dirs, uint32_t(end - i - 1));
        put32(w.dirs, uint32_t(first.inode_ref >> 16));
        put32(w.dirs, first.inode_number);
        for (size_t k = i; k < end; ++k) {
            const Sq_Node& n = w.nodes[kids[k]];
            put16(w.dirs, uint16_t(n.inode_ref & 0xFFFF));
            put16(w.dirs, uint16_t(int16_t(int64_t(n.inode_number) - int64_t(first.inode_number))));
            put16(w.dirs, n.file < 0 ? 1 : 2);
            put16(w.dirs, uint16_t(n.name.size() - 1));
            w.dirs += n.name;
        }
        i = end;
    }
    uint64_t listing_size = w.dirs.size() - listing;
    if (listing_size > w.limits.listing_max) {
        return w.fail(fmt("The AppImage cannot hold the folder %s: its listing of %d entries is too long for the "
                          "format.",
                          shown, kids.size()));
    }
    if (!w.fits(meta_block(listing), fmt("the listing of %s", shown))) return false;
    if (!take_inode_ref(w, self, fmt("the inode of %s", shown))) return false;
    sq_inode_header(w, 1, 0755, self.inode_number);
    put32(w.inodes, uint32_t(meta_block(listing)));
    put32(w.inodes, 2 + self.subfolders);
    put16(w.inodes, uint16_t(listing_size + 3));
    put16(w.inodes, uint16_t(listing % sq_meta_size));
    put32(w.inodes, parent);
    return true;
}

}  // namespace

void sq_set_limits(const Sq_Limits& limits) {
    std::lock_guard<std::mutex> guard(g_limits_lock);
    g_limits = limits;
}

Sq_Limits sq_limits() {
    std::lock_guard<std::mutex> guard(g_limits_lock);
    return g_limits;
}

bool squashfs_layout(const std::vector<Sq_Entry>& files, uint32_t mtime, Sq_Layout& out, std::string& err) {
    Writer w(files);
    w.limits = sq_limits();
    w.mtime = mtime;
    out = Sq_Layout{};
    err.clear();
    if (!build_tree(w) || !number(w, 0) || !write_dir(w, 0, w.counter + 1, "")) {
        err = w.err;
        return false;
    }
    // The tables after the data; positions count from the image's start.
    std::string& t = out.tail;
    uint64_t inode_table = w.data_end + t.size();
    sq_put_meta(t, w.inodes);
    uint64_t directory_table = w.data_end + t.size();
    sq_put_meta(t, w.dirs);
    uint64_t id_block = w.data_end + t.size();
    put16(t, 4 | 0x8000);
    put32(t, 0);
    uint64_t id_table = w.data_end + t.size();
    put64(t, id_block);
    uint64_t bytes_used = w.data_end + t.size();
    t.append((4096 - bytes_used % 4096) % 4096, '\0');

    std::string& s = out.head;
    s.assign(96, '\0');
    set32(s, 0, 0x73717368);
    set32(s, 4, w.counter);
    set32(s, 8, w.mtime);
    set32(s, 12, sq_block_size);
    set32(s, 16, 0);        // fragments
    set16(s, 20, 1);        // gzip, though nothing is compressed
    set16(s, 22, 17);       // log2 of the block size
    set16(s, 24, 0x0A1B);   // uncompressed inodes, data, fragments and ids; no fragments, no xattrs
    set16(s, 26, 1);        // ids
    set16(s, 28, 4);
    set16(s, 30, 0);
    set64(s, 32, w.nodes[0].inode_ref);
    set64(s, 40, bytes_used);
    set64(s, 48, id_table);
    set64(s, 56, ~uint64_t(0));   // no extended attributes
    set64(s, 64, inode_table);
    set64(s, 72, directory_table);
    set64(s, 80, ~uint64_t(0));   // no fragment table
    set64(s, 88, ~uint64_t(0));   // no export table
    out.order = std::move(w.order);
    return true;
}

std::vector<Sq_Entry> sq_entries(const std::vector<Sq_File>& files) {
    std::vector<Sq_Entry> entries;
    entries.reserve(files.size());
    for (const Sq_File& f : files) entries.push_back({f.path, f.from_path.empty() ? f.data.size() : f.from_size, f.executable});
    return entries;
}

bool squashfs_stream(File& out, const Sq_Layout& layout, const std::vector<Sq_File>& files, uint64_t& written,
                     std::string& err) {
    written = 0;
    auto put = [&](std::string_view bytes) {
        written += bytes.size();
        return file_write(out, bytes.data(), bytes.size(), &err);
    };
    if (!put(layout.head)) return false;
    for (size_t i : layout.order) {
        const Sq_File& f = files[i];
        if (f.from_path.empty()) {
            if (!put(f.data)) return false;
            continue;
        }
        File from;
        if (!file_open_read(from, f.from_path, &err) || !file_copy(out, from, 0, f.from_size, &err)) {
            err = fmt("%s: %s", f.path, err);
            return false;
        }
        written += f.from_size;
    }
    return put(layout.tail);
}

bool squashfs_write(const std::vector<Sq_File>& files, uint32_t mtime, std::string& image, std::string& err) {
    image.clear();
    Sq_Layout layout;
    if (!squashfs_layout(sq_entries(files), mtime, layout, err)) return false;
    uint64_t data_bytes = 0;
    for (const Sq_File& f : files) data_bytes += f.data.size();
    image.reserve(size_t(layout.head.size() + data_bytes + layout.tail.size()));
    image += layout.head;
    for (size_t i : layout.order) image.append(files[i].data);
    image += layout.tail;
    return true;
}

bool squashfs_write(const std::vector<Sq_File>& files, std::string& image, std::string& err) {
    return squashfs_write(files, uint32_t(wall_ns() / 1000000000), image, err);
}

// Downloads with the system's curl from a web server on this machine.
#include <gtest/gtest.h>

#include "engine/kt_system/clock.h"
#include "launcher/gamebuild/config.h"
#include "tests/gamebuild/local_server.h"
#include "tests/gamebuild/upscaler_fixture.h"
#include "tests/support/poll.h"

namespace {

struct Download_Fixture : Upscaler_Fixture {
    std::string served = path_join({dir.path, "site"});
    Local_Server server;

    Download_Fixture() {
        fs_make_dirs(served);
        if (!server.start(served, dir.path)) ADD_FAILURE() << "the local web server did not start";
        upscaler_set_site(server.site());
    }
    void serve_fsr4(const Fake_File& f, std::string_view bytes) {
        std::string path = path_join({served, fsr4_root, f.remote});
        fs_make_dirs(path_dir(path));
        fs_write(path, bytes);
    }
    void serve_dlss(const Fake_File& f, std::string_view bytes) {
        std::string path = path_join({served, dlss_root, f.remote});
        fs_make_dirs(path_dir(path));
        fs_write(path, bytes);
    }
    std::string fsr4_intro() const {
        return "FSR 4: downloading AMD's FidelityFX SDK 2.4.0 Vulkan DLLs (about 36 MB, once) from " + server.site() +
               "/GPUOpen-LibrariesAndSDKs/FidelityFX-SDK -- AMD's license: " + path_join({fsr4_dir(), "license.md"});
    }
    std::string dlss_intro() const {
        return "DLSS: downloading NVIDIA's DLSS 310.9.16 files (about 63 MB, once) from " + server.site() +
               "/NVIDIA/DLSS -- NVIDIA's license: " + path_join({dlss_dir(), "LICENSE.txt"});
    }
    std::string fsr4_url_path(const Fake_File& f) const { return "/" + std::string(fsr4_root) + f.remote; }
    // The launcher's own lines (curl's own error lines left out).
    static std::vector<std::string> own_lines(Task& t, std::string_view prefix) {
        std::vector<std::string> out;
        for (const std::string& line : log_of(t))
            if (line.rfind(prefix, 0) == 0) out.push_back(line);
        return out;
    }
    bool part_files_left() {
        std::vector<Dir_Entry> entries;
        fs_list(fsr4_dir(), entries);
        for (const Dir_Entry& e : entries)
            if (e.name.size() > 5 && e.name.substr(e.name.size() - 5) == ".part") return true;
        return false;
    }
};

}  // namespace

TEST(UpscalerDownload, OnlyTheWrongFileIsFetched) {
    Download_Fixture f;
    for (const Fake_File& file : f.fsr) f.serve_fsr4(file, file.bytes);
    f.put_fsr4(f.fsr[0], f.fsr[0].bytes);
    f.put_fsr4(f.fsr[1], f.fsr[1].bytes);
    f.put_fsr4(f.fsr[2], "an older, smaller upscaler");
    Task t;
    EXPECT_TRUE(fsr4_fetch(t));
    EXPECT_EQ(log_of(t), (std::vector<std::string>{f.fsr4_intro()}));
    EXPECT_EQ(t.status, "Downloading AMD FSR 4");
    EXPECT_FLOAT_EQ(t.progress, 0.02f);
    EXPECT_EQ(f.server.requests(), (std::vector<std::string>{f.fsr4_url_path(f.fsr[2])}));
    EXPECT_EQ(f.read_fsr4(f.fsr[2]), f.fsr[2].bytes);
    EXPECT_FALSE(f.part_files_left());
}

TEST(UpscalerDownload, RefusedFilesKeepTheOldOne) {
    struct Case { const char* what; bool serve; int wrong; std::string line; };
    // wrong: 0 the right file, 1 one byte more, 2 the right size with other bytes, 3 one byte short
    const Case cases[] = {
        {"one byte more", true, 1,
         "FSR 4: signedbin/amd_fidelityfx_upscaler_vk.dll is larger than the file expected: its download was stopped "
         "and nothing kept."},
        {"one byte short", true, 3,
         "FSR 4: signedbin/amd_fidelityfx_upscaler_vk.dll is not the file expected (its size or SHA-256 differs): not used."},
        {"wrong hash", true, 2,
         "FSR 4: signedbin/amd_fidelityfx_upscaler_vk.dll is not the file expected (its size or SHA-256 differs): not used."},
        {"not on the site", false, 0, "FSR 4: downloading signedbin/amd_fidelityfx_upscaler_vk.dll failed."},
    };
    for (const Case& c : cases) {
        Download_Fixture f;
        const Fake_File& dll = f.fsr[2];
        f.serve_fsr4(f.fsr[0], f.fsr[0].bytes);
        f.serve_fsr4(f.fsr[1], f.fsr[1].bytes);
        std::string other = dll.bytes;
        other[17] ^= 0x20;
        if (c.serve) {
            f.serve_fsr4(dll, c.wrong == 1   ? dll.bytes + "x"
                              : c.wrong == 3 ? dll.bytes.substr(0, dll.bytes.size() - 1)
                                             : other);
        }
        for (int i = 0; i < 2; i++) f.put_fsr4(f.fsr[i], f.fsr[i].bytes);
        f.put_fsr4(dll, "the old one");
        Task t;
        EXPECT_FALSE(fsr4_fetch(t)) << c.what;
        EXPECT_EQ(Download_Fixture::own_lines(t, "FSR 4:"), (std::vector<std::string>{f.fsr4_intro(), c.line})) << c.what;
        EXPECT_EQ(log_of(t).back(), c.line) << c.what;
        EXPECT_EQ(f.read_fsr4(dll), "the old one") << c.what;
        EXPECT_FALSE(f.part_files_left()) << c.what;
    }
}

TEST(UpscalerDownload, NoCurlOnThisComputer) {
    Download_Fixture f;
    f.hide_curl();
    Task t;
    fsr4_task(t);
    EXPECT_EQ(log_of(t), (std::vector<std::string>{
        "FSR 4: no curl on this computer to download AMD's files with.",
        "FSR 4: AMD's files could not be fetched: FSR 3.1 instead -- pick FSR 4 again to retry."}));
    EXPECT_TRUE(t.failed.load());
    EXPECT_TRUE(f.server.requests().empty());

    Task d;
    EXPECT_FALSE(dlss_fetch(d, false, true));
    EXPECT_EQ(log_of(d), (std::vector<std::string>{
        "DLSS: no curl on this computer to download NVIDIA's files with.",
        "DLSS: not in this build (TAA instead): NVIDIA's files could not be fetched -- Build again to retry."}));
}

TEST(UpscalerDownload, InterruptedSetResumesWithTheMissingFiles) {
    Download_Fixture f;
    // The site lacks the last file the first time.
    f.serve_fsr4(f.fsr[0], f.fsr[0].bytes);
    f.serve_fsr4(f.fsr[1], f.fsr[1].bytes);
    Task first;
    EXPECT_FALSE(fsr4_fetch(first));
    EXPECT_EQ(log_of(first).back(), "FSR 4: downloading signedbin/amd_fidelityfx_upscaler_vk.dll failed.");
    EXPECT_EQ(f.read_fsr4(f.fsr[0]), f.fsr[0].bytes);
    EXPECT_EQ(f.read_fsr4(f.fsr[1]), f.fsr[1].bytes);
    EXPECT_FALSE(fsr4_present());
    size_t before = f.server.requests().size();

    f.serve_fsr4(f.fsr[2], f.fsr[2].bytes);
    Task second;
    EXPECT_TRUE(fsr4_fetch(second));
    std::vector<std::string> asked = f.server.requests();
    EXPECT_EQ(std::vector<std::string>(asked.begin() + long(before), asked.end()),
              (std::vector<std::string>{f.fsr4_url_path(f.fsr[2])}));
    EXPECT_EQ(log_of(second), (std::vector<std::string>{f.fsr4_intro()}));
    EXPECT_TRUE(fsr4_present());
}

TEST(UpscalerDownload, TaskRewritesAnExistingConfiguration) {
    Download_Fixture f;
    for (const Fake_File& file : f.fsr) f.serve_fsr4(file, file.bytes);
    Settings s;
    s.graphics = 4;
    s.aa_fsr4 = s.aa_fsr = s.aa_taa = true;
    settings_replace(s);
    fs_write(f.cfg_path(), "# old\n");
    Task t;
    fsr4_task(t);
    EXPECT_FALSE(t.failed.load());
    EXPECT_EQ(log_of(t), (std::vector<std::string>{
        f.fsr4_intro(),
        "FSR 4: AMD FidelityFX SDK 2.4.0 DLLs in " + fsr4_dir() + " (AMD's license: license.md there)"}));
    EXPECT_EQ(t.status, "FSR 4 ready");
    EXPECT_FLOAT_EQ(t.progress, 1.0f);
    std::string cfg;
    fs_read(f.cfg_path(), cfg);
    // FSR 4 is for a Windows game; a native Linux one keeps FSR 3.1.
    EXPECT_NE(cfg.find(upscaler_dlls_native ? "ZQR_FSR=4\n" : "ZQR_FSR=1\n"), std::string::npos) << cfg;
}

TEST(UpscalerDownload, DlssHalfFetchedSetResumes) {
    Download_Fixture f;
    f.serve_dlss(f.dlss[0], f.dlss[0].bytes);
    f.serve_dlss(f.dlss[1], f.dlss[1].bytes);
    f.put_dlss(f.dlss[1], "stale header");
    Task first;
    EXPECT_FALSE(dlss_fetch(first, false, true));
    EXPECT_EQ(Download_Fixture::own_lines(first, "DLSS:"), (std::vector<std::string>{
        f.dlss_intro(),
        "DLSS: downloading lib/Windows_x86_64/rel/nvngx_dlss.dll failed.",
        "DLSS: not in this build (TAA instead): NVIDIA's files could not be fetched -- Build again to retry."}));
    EXPECT_EQ(first.status, "Downloading NVIDIA DLSS");
    size_t before = f.server.requests().size();
    EXPECT_EQ(before, 3u);

    f.serve_dlss(f.dlss[2], f.dlss[2].bytes);
    Task second;
    EXPECT_TRUE(dlss_fetch(second, false, true));
    std::vector<std::string> asked = f.server.requests();
    EXPECT_EQ(std::vector<std::string>(asked.begin() + long(before), asked.end()),
              (std::vector<std::string>{"/" + std::string(dlss_root) + f.dlss[2].remote}));
    EXPECT_EQ(log_of(second), (std::vector<std::string>{
        f.dlss_intro(),
        "DLSS: NVIDIA DLSS 310.9.16 in this build (NVIDIA's license: " + path_join({dlss_dir(), "LICENSE.txt"}) + ")"}));
    for (size_t i = 0; i < f.dlss.size(); i++)
        EXPECT_TRUE(dlss_check(path_join({dlss_dir(), f.dlss[i].name}), dlss_table()[i])) << f.dlss[i].name;
}

// A server that sends its headers (with the expected size) and then nothing more.
TEST(UpscalerDownload, StalledDownloadEnds) {
    Upscaler_Fixture f;
    std::string script = path_join({f.dir.path, "stall.py"});
    fs_write(script,
             "import http.server, sys, time\n"
             "class Stall(http.server.BaseHTTPRequestHandler):\n"
             "    def do_GET(self):\n"
             "        self.send_response(200)\n"
             "        self.send_header('Content-Length', '" + std::to_string(f.fsr[0].bytes.size()) + "')\n"
             "        self.end_headers()\n"
             "        self.wfile.flush()\n"
             "        time.sleep(3600)\n"
             "server = http.server.ThreadingHTTPServer(('127.0.0.1', 0), Stall)\n"
             "server.daemon_threads = True\n"
             "print('Serving HTTP on 127.0.0.1 port %d' % server.server_address[1], flush=True)\n"
             "server.serve_forever()\n");
    Local_Server server;
    ASSERT_TRUE(server.start("", f.dir.path, script));
    upscaler_set_site(server.site());
    upscaler_set_stall_seconds(1);
    Task t;
    EXPECT_FALSE(fsr4_fetch(t));
    EXPECT_EQ(log_of(t).back(), "FSR 4: downloading docs/license.md stalled (no data for a minute).");
    EXPECT_FALSE(file_exists(path_join({fsr4_dir(), "license.md.part"})));
}

// A server that offers far more than the table's size, with its size
// announced or as a chunked reply without one (which curl's --max-filesize
// does not bound): the download stops at the expected size instead of
// filling the disk, and the file already there stays.
TEST(UpscalerDownload, AFileLargerThanExpectedIsNotTaken) {
    for (bool chunked : {false, true}) {
        Upscaler_Fixture f;
        std::string script = path_join({f.dir.path, "large.py"});
        std::string sent = path_join({f.dir.path, "sent"});
        fs_write(script,
                 "import http.server, sys\n"
                 "chunked = sys.argv[2] == '1'\n"
                 "class Large(http.server.BaseHTTPRequestHandler):\n"
                 "    protocol_version = 'HTTP/1.1'\n"
                 "    def do_GET(self):\n"
                 "        size = 64 << 20\n"
                 "        self.send_response(200)\n"
                 "        if chunked:\n"
                 "            self.send_header('Transfer-Encoding', 'chunked')\n"
                 "        else:\n"
                 "            self.send_header('Content-Length', str(size))\n"
                 "        self.send_header('Connection', 'close')\n"
                 "        self.end_headers()\n"
                 "        block, done = b'x' * 65536, 0\n"
                 "        if chunked:\n"
                 "            block = b'10000\\r\\n' + block + b'\\r\\n'\n"
                 "        try:\n"
                 "            while done < size:\n"
                 "                self.wfile.write(block)\n"
                 "                done += 65536\n"
                 "            if chunked:\n"
                 "                self.wfile.write(b'0\\r\\n\\r\\n')\n"
                 "            self.wfile.flush()\n"
                 "            result = 'whole'\n"
                 "        except OSError:\n"
                 "            result = 'cut'\n"
                 "        open(sys.argv[1], 'w').write(result)\n"
                 "server = http.server.ThreadingHTTPServer(('127.0.0.1', 0), Large)\n"
                 "server.daemon_threads = True\n"
                 "print('Serving HTTP on 127.0.0.1 port %d' % server.server_address[1], flush=True)\n"
                 "server.serve_forever()\n");
        Local_Server server;
        ASSERT_TRUE(server.start("", f.dir.path, script + "' '" + sent + "' '" + (chunked ? "1" : "0")));
        upscaler_set_site(server.site());
        std::string old_file = path_join({fsr4_dir(), "license.md"});
        ASSERT_TRUE(fs_make_dirs(fsr4_dir()));
        ASSERT_TRUE(fs_write(old_file, "the license as it was"));
        Task t;
        EXPECT_FALSE(fsr4_fetch(t));
        EXPECT_EQ(log_of(t).back(), "FSR 4: docs/license.md is larger than the file expected: its download was "
                                    "stopped and nothing kept.")
            << (chunked ? "chunked" : "with its size");
        EXPECT_FALSE(file_exists(old_file + ".part"));
        std::string kept;
        EXPECT_TRUE(fs_read(old_file, kept));
        EXPECT_EQ(kept, "the license as it was");
        // The server learns that the client went away before the end.
        std::string result;
        poll_until([&] { return fs_read(sent, result); });
        EXPECT_EQ(result, "cut") << (chunked ? "chunked" : "with its size");
    }
}

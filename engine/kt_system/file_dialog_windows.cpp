#include "engine/kt_system/file_dialog.h"

#include "engine/kt_system/win_util.h"
#include "engine/kt_system/window.h"

#include <objbase.h>
#include <shobjidl.h>

namespace {

// Releases a COM object when the scope ends.
template <class T>
struct Com_Ref {
    T* p = nullptr;
    ~Com_Ref() {
        if (p) p->Release();
    }
    Com_Ref() = default;
    Com_Ref(const Com_Ref&) = delete;
    Com_Ref& operator=(const Com_Ref&) = delete;
};

// COM for this thread as a single-threaded apartment, for one use.
struct Com_Scope {
    bool ok = false;
    Com_Scope() {
        HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
        // S_FALSE: already initialised on this thread; it still needs its own uninitialise.
        ok = SUCCEEDED(hr);
    }
    ~Com_Scope() {
        if (ok) CoUninitialize();
    }
};

constexpr FILEOPENDIALOGOPTIONS file_options = FOS_FORCEFILESYSTEM | FOS_PATHMUSTEXIST | FOS_FILEMUSTEXIST;   // 0x1840
constexpr FILEOPENDIALOGOPTIONS folder_options = FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM | FOS_PATHMUSTEXIST;  // 0x860
static_assert(file_options == 0x1840 && folder_options == 0x860);

// Sets the dialog up; "" or the step that failed. `keep` holds the wide
// strings the file-type table points into until the dialog is gone.
std::string prepare(IFileOpenDialog* d, const File_Dialog_Request& rq, std::wstring keep[4]) {
    FILEOPENDIALOGOPTIONS opts = 0;
    if (FAILED(d->GetOptions(&opts))) return "GetOptions";
    bool files = rq.pick_file || !rq.filter_pattern.empty();
    opts |= files ? file_options : folder_options;
    if (FAILED(d->SetOptions(opts))) return "SetOptions";
    std::wstring title = wide_z(rq.title);
    if (FAILED(d->SetTitle(title.c_str()))) return "SetTitle";
    if (files) {
        if (!rq.filter_pattern.empty()) {
            keep[0] = wide_z(rq.filter_name);
            keep[1] = wide_z(rq.filter_pattern);
        } else {
            keep[0] = L"Programs";
            keep[1] = L"*.exe;*.com;*.bat;*.cmd";
        }
        keep[2] = L"All files";
        keep[3] = L"*.*";
        COMDLG_FILTERSPEC filters[2] = {{keep[0].c_str(), keep[1].c_str()}, {keep[2].c_str(), keep[3].c_str()}};
        if (FAILED(d->SetFileTypes(2, filters))) return "SetFileTypes";
        if (FAILED(d->SetFileTypeIndex(1))) return "SetFileTypeIndex";
    }
    if (!rq.start_folder.empty()) {
        // A start folder the shell cannot make an item of is left out.
        std::wstring start = wide_z(rq.start_folder, true);
        Com_Ref<IShellItem> item;
        if (SUCCEEDED(SHCreateItemFromParsingName(start.c_str(), nullptr, IID_IShellItem,
                                                  reinterpret_cast<void**>(&item.p)))) {
            d->SetFolder(item.p);
        }
    }
    return "";
}

}  // namespace

File_Dialog_Result file_dialog(Window* owner, const File_Dialog_Request& request) {
    File_Dialog_Result r;
    Com_Scope com;
    if (!com.ok) {
        r.error = "COM could not be initialised";
        return r;
    }
    Com_Ref<IFileOpenDialog> d;
    if (FAILED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_IFileOpenDialog,
                                reinterpret_cast<void**>(&d.p)))) {
        r.error = "no file dialog";
        return r;
    }
    std::wstring keep[4];
    std::string step = prepare(d.p, request, keep);
    if (!step.empty()) {
        r.error = step + " failed";
        return r;
    }
    HWND hwnd = owner ? static_cast<HWND>(owner->native) : nullptr;
    if (FAILED(d.p->Show(hwnd))) return r;   // cancelled (or could not show): nothing chosen
    Com_Ref<IShellItem> item;
    if (FAILED(d.p->GetResult(&item.p)) || !item.p) return r;
    PWSTR wide = nullptr;
    if (FAILED(item.p->GetDisplayName(SIGDN_FILESYSPATH, &wide)) || !wide) return r;
    std::wstring w(wide);
    CoTaskMemFree(wide);
    std::u16string u(w.begin(), w.end());
    bool valid = true;
    for (size_t i = 0; i < u.size(); ++i) {
        char16_t c = u[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < u.size() && u[i + 1] >= 0xDC00 && u[i + 1] <= 0xDFFF) {
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            valid = false;   // a lone surrogate has no UTF-8 form
        }
    }
    r.path = utf8_from_utf16(u);
    r.chosen = valid && !r.path.empty();
    if (!r.chosen) r.path.clear();
    return r;
}

bool file_dialog_available() { return true; }

std::string file_dialog_prepare_only(const File_Dialog_Request& request) {
    Com_Scope com;
    if (!com.ok) return "CoInitializeEx";
    Com_Ref<IFileOpenDialog> d;
    if (FAILED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_IFileOpenDialog,
                                reinterpret_cast<void**>(&d.p)))) {
        return "CoCreateInstance";
    }
    std::wstring keep[4];
    return prepare(d.p, request, keep);
}

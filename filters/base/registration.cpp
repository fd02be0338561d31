#include "registration.h"

#include <string>

#include "com_ptr.h"

namespace vellumo::filters {

using corvane::ComPtr;

namespace {

// Saved registrations live here until unregistration puts them back.
constexpr wchar_t kVendorKey[] = L"Software\\Vellumo";
constexpr wchar_t kPackKey[] = L"Software\\Vellumo\\FilterPack";
constexpr wchar_t kSavedKey[] = L"Software\\Vellumo\\FilterPack\\Saved";

class RegKey {
public:
    RegKey() = default;
    ~RegKey() { Close(); }
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;

    LSTATUS Open(HKEY root, const std::wstring& path, REGSAM access = KEY_READ)
    {
        Close();
        return RegOpenKeyExW(root, path.c_str(), 0, access, &key_);
    }
    LSTATUS Create(HKEY root, const std::wstring& path)
    {
        Close();
        return RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_, nullptr);
    }
    void Close()
    {
        if (key_) RegCloseKey(key_);
        key_ = nullptr;
    }
    HKEY Get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

std::wstring GuidString(REFGUID guid)
{
    wchar_t text[40];
    StringFromGUID2(guid, text, 40);
    return text;
}

std::wstring ClassKeyPath(REFCLSID clsid) { return L"CLSID\\" + GuidString(clsid); }
std::wstring InstanceKeyPath(const FilterClass& cls)
{
    return L"CLSID\\" + GuidString(*cls.category) + L"\\Instance\\" + GuidString(*cls.clsid);
}
std::wstring SavedPath(REFCLSID clsid) { return std::wstring(kSavedKey) + L"\\" + GuidString(clsid); }

bool KeyExists(HKEY root, const std::wstring& path)
{
    RegKey key;
    return key.Open(root, path) == ERROR_SUCCESS;
}

LSTATUS SetString(HKEY key, const wchar_t* name, const std::wstring& value)
{
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

// Copies root\from (whole tree) to root2\to, which is created.
LSTATUS CopyTree(HKEY fromRoot, const std::wstring& from, HKEY toRoot, const std::wstring& to)
{
    RegKey src;
    LSTATUS st = src.Open(fromRoot, from, KEY_READ);
    if (st != ERROR_SUCCESS) return st;
    RegKey dst;
    st = dst.Create(toRoot, to);
    if (st != ERROR_SUCCESS) return st;
    return RegCopyTreeW(src.Get(), nullptr, dst.Get());
}

// True when the key is gone afterwards.
bool DeleteTree(HKEY root, const std::wstring& path)
{
    RegDeleteTreeW(root, path.c_str());
    RegDeleteKeyW(root, path.c_str());
    return !KeyExists(root, path);
}

// Deletes a key only when it holds neither subkeys nor values.
void DeleteIfEmpty(HKEY root, const wchar_t* path)
{
    RegKey key;
    if (key.Open(root, path) != ERROR_SUCCESS) return;
    DWORD subkeys = 0, values = 0;
    if (RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                         nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        return;
    key.Close();
    if (subkeys == 0 && values == 0) RegDeleteKeyW(root, path);
}

// A full path made comparable: short names made long, "." and ".." and
// forward slashes resolved; empty for a name that is not a full path (the
// search path decides which file such a name loads).
std::wstring ComparablePath(std::wstring path)
{
    if (path.size() >= 2 && path.front() == L'"' && path.back() == L'"') path = path.substr(1, path.size() - 2);
    const auto slash = [&path](std::size_t i) { return path.size() > i && (path[i] == L'\\' || path[i] == L'/'); };
    if (!(path.size() > 1 && path[1] == L':' && slash(2)) && !(slash(0) && slash(1))) return {};
    std::wstring full(GetFullPathNameW(path.c_str(), 0, nullptr, nullptr), L'\0');
    if (full.empty()) return {};
    full.resize(GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), &full[0], nullptr));
    std::wstring longer(GetLongPathNameW(full.c_str(), nullptr, 0), L'\0');
    if (longer.empty()) return full;  // a file that is not there keeps its name
    longer.resize(GetLongPathNameW(full.c_str(), &longer[0], static_cast<DWORD>(longer.size())));
    return longer.empty() ? full : longer;
}

// The server named by a class's InprocServer32 (environment strings
// expanded): false when the value is there but cannot be read.
bool ReadServer(HKEY server, std::wstring& out)
{
    out.clear();
    DWORD type = 0, size = 0;
    LSTATUS st = RegQueryValueExW(server, nullptr, nullptr, &type, nullptr, &size);
    if (st == ERROR_FILE_NOT_FOUND) return true;
    if (st != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return false;
    std::wstring value(size / sizeof(wchar_t) + 1, L'\0');
    size = static_cast<DWORD>(value.size() * sizeof(wchar_t));
    if (RegQueryValueExW(server, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(&value[0]), &size) != ERROR_SUCCESS)
        return false;
    value.resize(wcsnlen(value.c_str(), value.size()));
    if (type == REG_EXPAND_SZ && !value.empty()) {
        std::wstring expanded(ExpandEnvironmentStringsW(value.c_str(), nullptr, 0), L'\0');
        if (expanded.empty()) return false;
        ExpandEnvironmentStringsW(value.c_str(), &expanded[0], static_cast<DWORD>(expanded.size()));
        value.assign(expanded.c_str());
    }
    out = value;
    return true;
}

// Who holds a class now: the pack when its InprocServer32 names the pack's
// DLL (the same full path, letter case aside), another program when it names
// any other server (or one that cannot be read), nobody when no server is
// named at all (the class key gone, or left without one).
enum class Holder { Pack, Other, Nobody };

Holder HolderOf(REFCLSID clsid, const wchar_t* modulePath)
{
    const std::wstring classKey = ClassKeyPath(clsid);
    if (KeyExists(HKEY_CLASSES_ROOT, classKey + L"\\LocalServer32")) return Holder::Other;
    RegKey server;
    const LSTATUS st = server.Open(HKEY_CLASSES_ROOT, classKey + L"\\InprocServer32");
    if (st == ERROR_FILE_NOT_FOUND) return Holder::Nobody;
    std::wstring name;
    if (st != ERROR_SUCCESS || !ReadServer(server.Get(), name)) return Holder::Other;
    if (name.empty()) return Holder::Nobody;
    const std::wstring registered = ComparablePath(name);
    return !registered.empty() &&
                   CompareStringOrdinal(registered.c_str(), -1, ComparablePath(modulePath).c_str(), -1, TRUE) ==
                       CSTR_EQUAL
               ? Holder::Pack
               : Holder::Other;
}

HRESULT SaveExisting(const FilterClass& cls)
{
    const std::wstring saved = SavedPath(*cls.clsid);
    const bool hadClass = KeyExists(HKEY_CLASSES_ROOT, ClassKeyPath(*cls.clsid));
    const bool hadInstance = KeyExists(HKEY_CLASSES_ROOT, InstanceKeyPath(cls));
    if (!hadClass && !hadInstance) return S_OK;
    RegKey key;
    bool copied = key.Create(HKEY_LOCAL_MACHINE, saved) == ERROR_SUCCESS;
    key.Close();
    copied = copied && (!hadClass || CopyTree(HKEY_CLASSES_ROOT, ClassKeyPath(*cls.clsid), HKEY_LOCAL_MACHINE,
                                              saved + L"\\Class") == ERROR_SUCCESS);
    copied = copied && (!hadInstance || CopyTree(HKEY_CLASSES_ROOT, InstanceKeyPath(cls), HKEY_LOCAL_MACHINE,
                                                 saved + L"\\Instance") == ERROR_SUCCESS);
    if (!copied) {
        // Nothing replaced yet: no half copy is left to be taken for the whole.
        DeleteTree(HKEY_LOCAL_MACHINE, saved);
        return SELFREG_E_CLASS;
    }
    // The replaced registration goes away whole, so that none of its subkeys
    // mixes with ours.
    DeleteTree(HKEY_CLASSES_ROOT, ClassKeyPath(*cls.clsid));
    DeleteTree(HKEY_CLASSES_ROOT, InstanceKeyPath(cls));
    return S_OK;
}

// Puts the saved registration back (over nothing); the copy is dropped only
// once all of it is back, so that a later unregistration can try again.
HRESULT RestoreSaved(const FilterClass& cls)
{
    const std::wstring saved = SavedPath(*cls.clsid);
    bool restored = true;
    if (KeyExists(HKEY_LOCAL_MACHINE, saved + L"\\Class"))
        restored = CopyTree(HKEY_LOCAL_MACHINE, saved + L"\\Class", HKEY_CLASSES_ROOT, ClassKeyPath(*cls.clsid)) ==
                   ERROR_SUCCESS;
    if (KeyExists(HKEY_LOCAL_MACHINE, saved + L"\\Instance"))
        restored = CopyTree(HKEY_LOCAL_MACHINE, saved + L"\\Instance", HKEY_CLASSES_ROOT, InstanceKeyPath(cls)) ==
                       ERROR_SUCCESS &&
                   restored;
    if (!restored) {
        // Half a registration back would read as another program's.
        DeleteTree(HKEY_CLASSES_ROOT, InstanceKeyPath(cls));
        DeleteTree(HKEY_CLASSES_ROOT, ClassKeyPath(*cls.clsid));
        return SELFREG_E_CLASS;
    }
    return DeleteTree(HKEY_LOCAL_MACHINE, saved) ? S_OK : SELFREG_E_CLASS;
}

HRESULT WriteClassKey(const FilterClass& cls, const wchar_t* modulePath)
{
    RegKey key;
    if (key.Create(HKEY_CLASSES_ROOT, ClassKeyPath(*cls.clsid)) != ERROR_SUCCESS) return SELFREG_E_CLASS;
    if (SetString(key.Get(), nullptr, cls.name) != ERROR_SUCCESS) return SELFREG_E_CLASS;
    RegKey server;
    if (server.Create(HKEY_CLASSES_ROOT, ClassKeyPath(*cls.clsid) + L"\\InprocServer32") != ERROR_SUCCESS)
        return SELFREG_E_CLASS;
    if (SetString(server.Get(), nullptr, modulePath) != ERROR_SUCCESS ||
        SetString(server.Get(), L"ThreadingModel", L"Both") != ERROR_SUCCESS)
        return SELFREG_E_CLASS;
    return S_OK;
}

HRESULT RegisterWithMapper(IFilterMapper2* mapper, const FilterClass& cls)
{
    REGFILTER2 rf{};
    rf.dwVersion = 2;
    rf.dwMerit = cls.merit;
    rf.cPins2 = cls.pinCount;
    rf.rgPins2 = cls.pins;
    return mapper->RegisterFilter(*cls.clsid, cls.name, nullptr, cls.category, nullptr, &rf);
}

bool HasSaved(REFCLSID clsid) { return KeyExists(HKEY_LOCAL_MACHINE, SavedPath(clsid)); }

HRESULT CreateMapper(ComPtr<IFilterMapper2>& mapper)
{
    return CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2, mapper.PutVoid());
}

std::wstring SignatureKeyPath(const MediaSignature& signature)
{
    return L"Media Type\\" + GuidString(MEDIATYPE_Stream) + L"\\" + GuidString(*signature.subtype);
}

}  // namespace

HRESULT RegisterMediaSignatures(const std::vector<const MediaSignature*>& signatures)
{
    for (const MediaSignature* signature : signatures) {
        RegKey key;
        if (key.Create(HKEY_CLASSES_ROOT, SignatureKeyPath(*signature)) != ERROR_SUCCESS) return SELFREG_E_TYPELIB;
        LSTATUS st = SetString(key.Get(), L"Source Filter", GuidString(CLSID_AsyncReader));
        for (std::size_t i = 0; st == ERROR_SUCCESS && i < signature->checkCount; ++i)
            st = SetString(key.Get(), std::to_wstring(i).c_str(), signature->checks[i]);
        if (st != ERROR_SUCCESS) return SELFREG_E_TYPELIB;
    }
    return S_OK;
}

void UnregisterMediaSignatures(const std::vector<const MediaSignature*>& signatures)
{
    for (const MediaSignature* signature : signatures) DeleteTree(HKEY_CLASSES_ROOT, SignatureKeyPath(*signature));
}

bool PlatformClassRegistered(REFCLSID clsid)
{
    return KeyExists(HKEY_CLASSES_ROOT, ClassKeyPath(clsid) + L"\\InprocServer32");
}

bool RunningUnderWine()
{
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

bool StandInWanted(REFCLSID clsid) { return RunningUnderWine() || !PlatformClassRegistered(clsid); }

bool ClassRegisteredTo(REFCLSID clsid, const wchar_t* modulePath)
{
    return HolderOf(clsid, modulePath) == Holder::Pack;
}

HRESULT RegisterFilterClasses(const std::vector<const FilterClass*>& classes, const wchar_t* modulePath)
{
    ComPtr<IFilterMapper2> mapper;
    HRESULT hr = CreateMapper(mapper);
    if (FAILED(hr)) return hr;
    for (const FilterClass* cls : classes) {
        // Ours already, or left without a server by a registration of ours
        // that failed half way (the replaced one is saved): written over.
        const Holder holder = HolderOf(*cls->clsid, modulePath);
        const bool saved = HasSaved(*cls->clsid);
        if (holder != Holder::Pack && !(holder == Holder::Nobody && saved)) {
            // A stand-in only where the platform has no filter of its own or is Wine.
            if (cls->standIn && !StandInWanted(*cls->clsid)) continue;
            // Another program registered the class after us: what we kept of
            // the one before is stale, and the newer one is saved instead.
            if (saved && !DeleteTree(HKEY_LOCAL_MACHINE, SavedPath(*cls->clsid))) return SELFREG_E_CLASS;
            hr = SaveExisting(*cls);
            if (FAILED(hr)) return hr;
        }
        hr = WriteClassKey(*cls, modulePath);
        if (FAILED(hr)) return hr;
        hr = RegisterWithMapper(mapper.Get(), *cls);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

HRESULT UnregisterFilterClasses(const std::vector<const FilterClass*>& classes, const wchar_t* modulePath)
{
    ComPtr<IFilterMapper2> mapper;
    HRESULT hr = CreateMapper(mapper);
    if (FAILED(hr)) return hr;
    HRESULT result = S_OK;
    for (const FilterClass* cls : classes) {
        const bool saved = HasSaved(*cls->clsid);
        const Holder holder = HolderOf(*cls->clsid, modulePath);
        if (holder == Holder::Other) {
            // Another program registered the class after us: its registration
            // (class and filter mapper entry) stands as it is, and what we
            // kept of the one before is stale.
            if (saved && !DeleteTree(HKEY_LOCAL_MACHINE, SavedPath(*cls->clsid))) result = SELFREG_E_CLASS;
            continue;
        }
        // Nobody's and nothing saved: nothing here is ours. Nobody's with a
        // saved copy: our registration was removed by someone else, and the
        // one it replaced comes back, since no other holds the class now.
        if (holder == Holder::Nobody && !saved) continue;
        mapper->UnregisterFilter(cls->category, nullptr, *cls->clsid);
        // The saved copy goes back only over nothing, never mixed with what is
        // left of ours.
        if (!DeleteTree(HKEY_CLASSES_ROOT, InstanceKeyPath(*cls)) ||
            !DeleteTree(HKEY_CLASSES_ROOT, ClassKeyPath(*cls->clsid))) {
            result = SELFREG_E_CLASS;
            continue;
        }
        if (saved && FAILED(RestoreSaved(*cls))) result = SELFREG_E_CLASS;
    }
    DeleteIfEmpty(HKEY_LOCAL_MACHINE, kSavedKey);
    DeleteIfEmpty(HKEY_LOCAL_MACHINE, kPackKey);
    DeleteIfEmpty(HKEY_LOCAL_MACHINE, kVendorKey);
    return result;
}

}  // namespace vellumo::filters

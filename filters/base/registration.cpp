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

void DeleteTree(HKEY root, const std::wstring& path)
{
    RegDeleteTreeW(root, path.c_str());
    RegDeleteKeyW(root, path.c_str());
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

HRESULT SaveExisting(const FilterClass& cls)
{
    const std::wstring saved = SavedPath(*cls.clsid);
    const bool hadClass = KeyExists(HKEY_CLASSES_ROOT, ClassKeyPath(*cls.clsid));
    const bool hadInstance = KeyExists(HKEY_CLASSES_ROOT, InstanceKeyPath(cls));
    if (!hadClass && !hadInstance) return S_OK;
    RegKey key;
    if (key.Create(HKEY_LOCAL_MACHINE, saved) != ERROR_SUCCESS) return SELFREG_E_CLASS;
    if (hadClass && CopyTree(HKEY_CLASSES_ROOT, ClassKeyPath(*cls.clsid), HKEY_LOCAL_MACHINE, saved + L"\\Class") !=
                        ERROR_SUCCESS)
        return SELFREG_E_CLASS;
    if (hadInstance && CopyTree(HKEY_CLASSES_ROOT, InstanceKeyPath(cls), HKEY_LOCAL_MACHINE,
                                saved + L"\\Instance") != ERROR_SUCCESS)
        return SELFREG_E_CLASS;
    // The replaced registration goes away whole, so that none of its subkeys
    // mixes with ours.
    DeleteTree(HKEY_CLASSES_ROOT, ClassKeyPath(*cls.clsid));
    DeleteTree(HKEY_CLASSES_ROOT, InstanceKeyPath(cls));
    return S_OK;
}

void RestoreSaved(const FilterClass& cls)
{
    const std::wstring saved = SavedPath(*cls.clsid);
    if (KeyExists(HKEY_LOCAL_MACHINE, saved + L"\\Class"))
        CopyTree(HKEY_LOCAL_MACHINE, saved + L"\\Class", HKEY_CLASSES_ROOT, ClassKeyPath(*cls.clsid));
    if (KeyExists(HKEY_LOCAL_MACHINE, saved + L"\\Instance"))
        CopyTree(HKEY_LOCAL_MACHINE, saved + L"\\Instance", HKEY_CLASSES_ROOT, InstanceKeyPath(cls));
    DeleteTree(HKEY_LOCAL_MACHINE, saved);
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
    RegKey key;
    if (key.Open(HKEY_CLASSES_ROOT, ClassKeyPath(clsid) + L"\\InprocServer32") != ERROR_SUCCESS) return false;
    wchar_t value[MAX_PATH * 2] = {};
    DWORD size = sizeof(value) - sizeof(wchar_t);
    DWORD type = 0;
    if (RegQueryValueExW(key.Get(), nullptr, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) !=
            ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return false;
    return lstrcmpiW(value, modulePath) == 0;
}

HRESULT RegisterFilterClasses(const std::vector<const FilterClass*>& classes, const wchar_t* modulePath)
{
    ComPtr<IFilterMapper2> mapper;
    HRESULT hr = CreateMapper(mapper);
    if (FAILED(hr)) return hr;
    for (const FilterClass* cls : classes) {
        const bool ours = ClassRegisteredTo(*cls->clsid, modulePath) || HasSaved(*cls->clsid);
        if (!ours) {
            // A stand-in only where the platform has no filter of its own or is Wine.
            if (cls->standIn && !StandInWanted(*cls->clsid)) continue;
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
    for (const FilterClass* cls : classes) {
        const bool saved = HasSaved(*cls->clsid);
        if (!saved && !ClassRegisteredTo(*cls->clsid, modulePath)) continue;  // not ours
        mapper->UnregisterFilter(cls->category, nullptr, *cls->clsid);
        DeleteTree(HKEY_CLASSES_ROOT, InstanceKeyPath(*cls));
        DeleteTree(HKEY_CLASSES_ROOT, ClassKeyPath(*cls->clsid));
        if (saved) RestoreSaved(*cls);
    }
    DeleteIfEmpty(HKEY_LOCAL_MACHINE, kSavedKey);
    DeleteIfEmpty(HKEY_LOCAL_MACHINE, kPackKey);
    DeleteIfEmpty(HKEY_LOCAL_MACHINE, kVendorKey);
    return S_OK;
}

}  // namespace vellumo::filters

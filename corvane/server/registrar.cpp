#include "registrar.h"

#include <cwctype>
#include <memory>

namespace corvane::server {
namespace {

struct Token {
    std::wstring text;
    bool quoted = false;
    bool Is(const wchar_t* word) const { return !quoted && _wcsicmp(text.c_str(), word) == 0; }
};

// Splits the expanded script into tokens.
bool Tokenize(const std::wstring& s, std::vector<Token>& out)
{
    size_t i = 0;
    while (i < s.size()) {
        if (std::iswspace(s[i])) { ++i; continue; }
        Token t;
        if (s[i] == L'\'') {
            t.quoted = true;
            ++i;
            for (;;) {
                if (i >= s.size()) return false;  // unterminated text
                if (s[i] == L'\'') {
                    if (i + 1 < s.size() && s[i + 1] == L'\'') { t.text += L'\''; i += 2; continue; }
                    ++i;
                    break;
                }
                t.text += s[i++];
            }
        } else {
            while (i < s.size() && !std::iswspace(s[i])) t.text += s[i++];
        }
        out.push_back(std::move(t));
    }
    return true;
}

enum class KeyMode { Normal, NoRemove, ForceRemove, Delete };

struct Value {
    DWORD type = REG_SZ;
    std::wstring text;
};

struct NamedValue {
    std::wstring name;
    Value value;
};

struct Key {
    std::wstring name;
    KeyMode mode = KeyMode::Normal;
    bool hasDefault = false;
    Value defaultValue;
    std::vector<NamedValue> values;
    std::vector<Key> subkeys;
};

struct Root {
    HKEY hkey;
    std::vector<Key> keys;
};

class Parser {
public:
    explicit Parser(std::vector<Token> tokens) : t_(std::move(tokens)) {}

    bool ParseScript(std::vector<Root>& roots)
    {
        while (pos_ < t_.size()) {
            Root root{};
            if (!RootKey(t_[pos_++], root.hkey)) return false;
            if (!Expect(L"{") || !ParseBody(root.keys, nullptr)) return false;
            roots.push_back(std::move(root));
        }
        return true;
    }

private:
    static bool RootKey(const Token& t, HKEY& out)
    {
        struct { const wchar_t* a; const wchar_t* b; HKEY key; } const roots[] = {
            {L"HKCR", L"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
            {L"HKCU", L"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
            {L"HKLM", L"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
            {L"HKU", L"HKEY_USERS", HKEY_USERS},
        };
        for (const auto& r : roots) {
            if (t.Is(r.a) || t.Is(r.b)) { out = r.key; return true; }
        }
        return false;
    }

    bool Expect(const wchar_t* word)
    {
        if (pos_ >= t_.size() || !t_[pos_].Is(word)) return false;
        ++pos_;
        return true;
    }

    bool ParseValue(Value& v)
    {
        if (pos_ + 1 >= t_.size()) return false;
        const Token& kind = t_[pos_++];
        if (kind.Is(L"s"))
            v.type = REG_SZ;
        else if (kind.Is(L"d"))
            v.type = REG_DWORD;
        else
            return false;
        v.text = t_[pos_++].text;
        return true;
    }

    // Reads entries up to the closing brace. owner is null at the root.
    bool ParseBody(std::vector<Key>& keys, Key* owner)
    {
        for (;;) {
            if (pos_ >= t_.size()) return false;
            if (t_[pos_].Is(L"}")) { ++pos_; return true; }
            if (t_[pos_].Is(L"val")) {
                if (!owner) return false;
                ++pos_;
                if (pos_ >= t_.size()) return false;
                NamedValue nv;
                nv.name = t_[pos_++].text;
                if (!Expect(L"=") || !ParseValue(nv.value)) return false;
                owner->values.push_back(std::move(nv));
                continue;
            }
            Key key;
            if (t_[pos_].Is(L"NoRemove")) { key.mode = KeyMode::NoRemove; ++pos_; }
            else if (t_[pos_].Is(L"ForceRemove")) { key.mode = KeyMode::ForceRemove; ++pos_; }
            else if (t_[pos_].Is(L"Delete")) { key.mode = KeyMode::Delete; ++pos_; }
            if (pos_ >= t_.size()) return false;
            const Token& name = t_[pos_++];
            if (!name.quoted && (name.text == L"{" || name.text == L"}" || name.text == L"=")) return false;
            key.name = name.text;
            if (pos_ < t_.size() && t_[pos_].Is(L"=")) {
                ++pos_;
                if (!ParseValue(key.defaultValue)) return false;
                key.hasDefault = true;
            }
            if (pos_ < t_.size() && t_[pos_].Is(L"{")) {
                ++pos_;
                if (!ParseBody(key.subkeys, &key)) return false;
            }
            keys.push_back(std::move(key));
        }
    }

    std::vector<Token> t_;
    size_t pos_ = 0;
};

// An open registry key, closed once.
class RegKey {
public:
    RegKey() = default;
    ~RegKey() { if (key_) RegCloseKey(key_); }
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;
    HKEY* Put() { if (key_) { RegCloseKey(key_); key_ = nullptr; } return &key_; }
    HKEY Get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

HRESULT FromWin32(LONG err)
{
    return err == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(static_cast<DWORD>(err));
}

HRESULT SetValue(HKEY key, const wchar_t* name, const Value& v)
{
    if (v.type == REG_DWORD) {
        DWORD number = static_cast<DWORD>(wcstoul(v.text.c_str(), nullptr, 0));
        return FromWin32(RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number));
    }
    const DWORD bytes = static_cast<DWORD>((v.text.size() + 1) * sizeof(wchar_t));
    return FromWin32(RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(v.text.c_str()), bytes));
}

HRESULT DeleteTree(HKEY parent, const std::wstring& name)
{
    LONG err = RegDeleteTreeW(parent, name.c_str());
    if (err == ERROR_FILE_NOT_FOUND) return S_OK;
    if (err != ERROR_SUCCESS) return FromWin32(err);
    // RegDeleteTree empties the key; remove the key itself too.
    err = RegDeleteKeyW(parent, name.c_str());
    return err == ERROR_FILE_NOT_FOUND ? S_OK : FromWin32(err);
}

bool IsReservedName(const std::wstring& name)
{
    static const wchar_t* const reserved[] = {
        L"AppID", L"CLSID", L"Component Categories", L"FileType", L"Interface", L"Hardware",
        L"Mime", L"SAM", L"SECURITY", L"SYSTEM", L"Software", L"TypeLib",
    };
    for (const wchar_t* r : reserved) {
        if (_wcsicmp(name.c_str(), r) == 0) return true;
    }
    return false;
}

HRESULT RegisterKey(HKEY parent, const Key& key)
{
    if (key.mode == KeyMode::ForceRemove || key.mode == KeyMode::Delete) {
        HRESULT hr = DeleteTree(parent, key.name);
        if (FAILED(hr)) return hr;
        if (key.mode == KeyMode::Delete) return S_OK;
    }
    RegKey k;
    HRESULT hr = FromWin32(RegCreateKeyExW(parent, key.name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                           KEY_READ | KEY_WRITE, nullptr, k.Put(), nullptr));
    if (FAILED(hr)) return hr;
    if (key.hasDefault && FAILED(hr = SetValue(k.Get(), nullptr, key.defaultValue))) return hr;
    for (const NamedValue& nv : key.values) {
        if (FAILED(hr = SetValue(k.Get(), nv.name.c_str(), nv.value))) return hr;
    }
    for (const Key& sub : key.subkeys) {
        if (FAILED(hr = RegisterKey(k.Get(), sub))) return hr;
    }
    return S_OK;
}

HRESULT UnregisterKey(HKEY parent, const Key& key)
{
    DWORD subkeyCount = 0;
    {
        RegKey k;
        LONG err = RegOpenKeyExW(parent, key.name.c_str(), 0, KEY_READ | KEY_WRITE, k.Put());
        if (err == ERROR_FILE_NOT_FOUND) return S_OK;  // nothing of ours is left there
        if (err != ERROR_SUCCESS) return FromWin32(err);
        for (const NamedValue& nv : key.values) {
            err = RegDeleteValueW(k.Get(), nv.name.c_str());
            if (err != ERROR_SUCCESS && err != ERROR_FILE_NOT_FOUND) return FromWin32(err);
        }
        for (const Key& sub : key.subkeys) {
            HRESULT hr = UnregisterKey(k.Get(), sub);
            if (FAILED(hr)) return hr;
        }
        if (key.mode == KeyMode::NoRemove) return S_OK;
        err = RegQueryInfoKeyW(k.Get(), nullptr, nullptr, nullptr, &subkeyCount, nullptr, nullptr, nullptr,
                               nullptr, nullptr, nullptr, nullptr);
        if (err != ERROR_SUCCESS) return FromWin32(err);
    }
    if (subkeyCount == 0) {
        LONG err = RegDeleteKeyW(parent, key.name.c_str());
        return err == ERROR_FILE_NOT_FOUND ? S_OK : FromWin32(err);
    }
    if (IsReservedName(key.name)) return S_OK;
    return DeleteTree(parent, key.name);
}

}  // namespace

void Registrar::AddReplacement(std::wstring name, std::wstring value)
{
    replacements_.emplace_back(std::move(name), std::move(value));
}

HRESULT Registrar::Expand(const std::wstring& script, std::wstring& out) const
{
    out.clear();
    out.reserve(script.size());
    for (size_t i = 0; i < script.size(); ++i) {
        if (script[i] != L'%') { out += script[i]; continue; }
        const size_t end = script.find(L'%', i + 1);
        if (end == std::wstring::npos) return E_INVALIDARG;
        const std::wstring name = script.substr(i + 1, end - i - 1);
        if (name.empty()) {
            out += L'%';
        } else {
            bool found = false;
            for (const auto& r : replacements_) {
                if (_wcsicmp(r.first.c_str(), name.c_str()) == 0) { out += r.second; found = true; break; }
            }
            if (!found) return E_INVALIDARG;
        }
        i = end;
    }
    return S_OK;
}

HRESULT Registrar::Run(const std::wstring& script, bool registering) const
{
    std::wstring text;
    HRESULT hr = Expand(script, text);
    if (FAILED(hr)) return hr;
    std::vector<Token> tokens;
    if (!Tokenize(text, tokens)) return E_INVALIDARG;
    std::vector<Root> roots;
    if (!Parser(std::move(tokens)).ParseScript(roots)) return E_INVALIDARG;
    for (const Root& root : roots) {
        for (const Key& key : root.keys) {
            hr = registering ? RegisterKey(root.hkey, key) : UnregisterKey(root.hkey, key);
            if (FAILED(hr)) return hr;
        }
    }
    return S_OK;
}

HRESULT Registrar::RunResource(HMODULE module, UINT id, bool registering) const
{
    HRSRC res = FindResourceW(module, MAKEINTRESOURCEW(id), L"REGISTRY");
    if (!res) return HRESULT_FROM_WIN32(GetLastError());
    HGLOBAL data = LoadResource(module, res);
    const DWORD size = SizeofResource(module, res);
    const char* bytes = data ? static_cast<const char*>(LockResource(data)) : nullptr;
    if (!bytes) return HRESULT_FROM_WIN32(GetLastError());
    std::wstring script;
    if (size > 0) {
        const int n = MultiByteToWideChar(CP_UTF8, 0, bytes, static_cast<int>(size), nullptr, 0);
        if (n <= 0) return E_INVALIDARG;
        script.resize(static_cast<size_t>(n));
        MultiByteToWideChar(CP_UTF8, 0, bytes, static_cast<int>(size), &script[0], n);
    }
    return Run(script, registering);
}

}  // namespace corvane::server

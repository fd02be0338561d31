// Helpers shared by the corvane.dll tests: paths, regsvr32, registry reads,
// a new control, and an event sink for the control's connection point.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <olectl.h>

#include <string>
#include <vector>

#include "com_ptr.h"
#include "corvane_idl.h"
#include "event_recorder.h"

namespace server_test {

using corvane::ComPtr;
using Strings = std::vector<std::string>;

constexpr wchar_t kClsid[] = L"{8E2DC57B-E2E2-4FBB-924A-F195CBD136F6}";
constexpr wchar_t kAppId[] = L"{1F29CAC4-6174-44F7-9395-BC167397D7A8}";
constexpr wchar_t kLibId[] = L"{A57C7E54-C2F2-443F-A3F7-96B5B5AE84D2}";
constexpr wchar_t kIid[] = L"{7FD7540F-CA29-4300-B0FB-1B925F946B27}";
constexpr wchar_t kEventsIid[] = L"{D819D4BB-E84A-4857-AA94-B89F45E076ED}";

// corvane.dll beside the running test program.
inline std::wstring ServerPath()
{
    wchar_t path[MAX_PATH];
    std::wstring dir(path, GetModuleFileNameW(nullptr, path, MAX_PATH));
    return dir.substr(0, dir.find_last_of(L'\\') + 1) + L"corvane.dll";
}

// Runs "regsvr32 /s [/u] path" and returns its exit code (or ~0 on failure
// to start or after a minute).
inline DWORD RunRegsvr32(const std::wstring& dll, bool unregister = false)
{
    std::wstring cmd = std::wstring(L"regsvr32.exe /s ") + (unregister ? L"/u " : L"") + L"\"" + dll + L"\"";
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return ~0u;
    DWORD code = ~0u;
    if (WaitForSingleObject(pi.hProcess, 60000) == WAIT_OBJECT_0) GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return code;
}

inline bool KeyExists(const std::wstring& path)
{
    HKEY key;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

// The string value (null name = default value); "<missing>" when absent.
inline std::wstring ReadString(const std::wstring& path, const wchar_t* name = nullptr)
{
    wchar_t data[1024];
    DWORD size = sizeof data;
    DWORD type = 0;
    if (RegGetValueW(HKEY_CLASSES_ROOT, path.c_str(), name, RRF_RT_ANY, &type, data, &size) != ERROR_SUCCESS)
        return L"<missing>";
    return type == REG_SZ ? std::wstring(data) : L"<not a string>";
}

// Names of the subkeys, or of the values, of a key.
inline std::vector<std::wstring> NamesIn(const std::wstring& path, bool values = false)
{
    std::vector<std::wstring> names;
    HKEY key;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return names;
    wchar_t name[256];
    DWORD len = 256;
    for (DWORD i = 0; (values ? RegEnumValueW(key, i, name, &len, nullptr, nullptr, nullptr, nullptr)
                              : RegEnumKeyExW(key, i, name, &len, nullptr, nullptr, nullptr, nullptr)) == ERROR_SUCCESS;
         ++i, len = 256)
        names.emplace_back(name, len);
    RegCloseKey(key);
    return names;
}

template <class I>
ComPtr<I> NewControl()
{
    ComPtr<I> control;
    CoCreateInstance(CLSID_AtlHalvex, nullptr, CLSCTX_INPROC_SERVER, __uuidof(I), control.PutVoid());
    return control;
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
// A recording sink that also answers the control's event interface.
struct Sink : fakes::EventRecorder {
    explicit Sink(Strings* log = nullptr, std::string label = {}) : EventRecorder(log, std::move(label))
    {
        eventsIid = DIID__IAtlHalvexEvents;
    }
};
#pragma GCC diagnostic pop

// Connects the sink to the control's connection point; returns the cookie (0 when refused).
inline DWORD Advise(IUnknown* control, IUnknown* sink, ComPtr<IConnectionPoint>* pointOut = nullptr)
{
    ComPtr<IConnectionPointContainer> container;
    ComPtr<IConnectionPoint> point;
    DWORD cookie = 0;
    if (SUCCEEDED(control->QueryInterface(IID_IConnectionPointContainer, container.PutVoid())) &&
        SUCCEEDED(container->FindConnectionPoint(DIID__IAtlHalvexEvents, point.Put())))
        point->Advise(sink, &cookie);
    if (pointOut) *pointOut = point;
    return cookie;
}

// LoadFile on a file that does not exist: a graph is held afterwards, so
// that Stop raises onStopped. Returns the stage.
inline LONG LoadMissingFile(IAtlHalvex* control)
{
    BSTR missing = SysAllocString(L"C:\\no such folder\\missing.rm");
    LONG stage = -1;
    control->get_LoadFile(missing, &stage);
    SysFreeString(missing);
    return stage;
}

}  // namespace server_test

// Resource counts of a process (handles, threads, GDI and USER objects,
// private memory) for leak checks and benchmark figures.
//
// Each figure comes from the platform's own counter where that answers, and
// otherwise from a count of the objects themselves:
// - handles: GetProcessHandleCount, else the entries of the process in the
//   system handle list (NtQuerySystemInformation);
// - threads: the Toolhelp snapshot;
// - GDI objects: GetGuiResources, else (this process only) the in-use entries
//   of the GDI handle table the PEB points to;
// - USER objects: GetGuiResources, else the windows of the process (top-level
//   with their children, and message-only windows);
// - private bytes: PrivateUsage, else the committed private pages
//   (VirtualQueryEx walk).
// Under Wine 8 the first API of each pair answers 0; the second is real there.
#pragma once

#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace testing_support {

struct ProcessCounts {
    DWORD handles = 0;
    DWORD threads = 0;
    DWORD gdi = 0;
    DWORD user = 0;
    SIZE_T privateBytes = 0;
};

namespace process_counts_detail {

// An entry of the system handle list (SystemExtendedHandleInformation, 64).
struct HandleEntryEx {
    PVOID object;
    ULONG_PTR processId;
    ULONG_PTR handleValue;
    ULONG grantedAccess;
    USHORT creatorBackTraceIndex;
    USHORT objectTypeIndex;
    ULONG handleAttributes;
    ULONG reserved;
};

inline DWORD HandlesFromSystemList(DWORD pid)
{
    using QueryFn = LONG(NTAPI*)(ULONG, PVOID, ULONG, PULONG);
    static const auto query = reinterpret_cast<QueryFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    static thread_local std::vector<ULONG_PTR> buffer(64 * 1024);
    constexpr LONG kInfoLengthMismatch = static_cast<LONG>(0xC0000004L);
    LONG status = kInfoLengthMismatch;
    // The list grows between calls: leave room.
    for (int attempt = 0; query && status == kInfoLengthMismatch && attempt < 16; ++attempt) {
        ULONG needed = 0;
        status = query(64, buffer.data(), static_cast<ULONG>(buffer.size() * sizeof(ULONG_PTR)), &needed);
        if (status == kInfoLengthMismatch) buffer.resize(std::max<size_t>(buffer.size() * 2, needed / sizeof(ULONG_PTR) + 8192));
    }
    if (!query || status < 0) return 0;
    // The list: a count, a reserved word, then the entries.
    const auto* entries = reinterpret_cast<const HandleEntryEx*>(buffer.data() + 2);
    DWORD n = 0;
    for (ULONG_PTR i = 0; i < buffer[0]; ++i)
        if (entries[i].processId == pid) ++n;
    return n;
}

inline DWORD Threads(DWORD pid)
{
    DWORD count = 0;
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snap == INVALID_HANDLE_VALUE) return 0;
    THREADENTRY32 te{};
    te.dwSize = sizeof(te);
    for (BOOL ok = Thread32First(snap, &te); ok; ok = Thread32Next(snap, &te))
        if (te.th32OwnerProcessID == pid) ++count;
    CloseHandle(snap);
    return count;
}

// One entry of the GDI handle table as Wine lays it out (the same size and
// owner/type offsets as the 64-bit Windows table).
struct GdiTableEntry {
    UINT64 object;
    USHORT ownerProcessId;
    USHORT ownerCount;
    USHORT unique;
    UCHAR type;
    UCHAR flags;
    UINT64 user;
};
static_assert(sizeof(GdiTableEntry) == 24, "GDI table entry layout");
constexpr size_t kGdiTableEntries = 0x10000;

inline const GdiTableEntry* GdiTable()
{
    using QueryFn = LONG(NTAPI*)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);
    static const auto query = reinterpret_cast<QueryFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess")));
    PROCESS_BASIC_INFORMATION info{};
    if (!query || query(GetCurrentProcess(), ProcessBasicInformation, &info, sizeof(info), nullptr) < 0 ||
        !info.PebBaseAddress)
        return nullptr;
    // PEB.GdiSharedHandleTable
#ifdef _WIN64
    constexpr size_t kOffset = 0xF8;
#else
    constexpr size_t kOffset = 0x94;
#endif
    const GdiTableEntry* table = nullptr;
    std::memcpy(&table, reinterpret_cast<const unsigned char*>(info.PebBaseAddress) + kOffset, sizeof(table));
    return table;
}

// GDI objects of this process by its handle table: entries that name this
// process as owner, or every entry in use when no entry names an owner
// (a table private to the process, as Wine keeps it).
inline DWORD GdiFromTable()
{
#ifdef _WIN64
    const GdiTableEntry* table = GdiTable();
    if (!table) return 0;
    const USHORT self = static_cast<USHORT>(GetCurrentProcessId());
    DWORD inUse = 0, owned = 0;
    bool anyOwner = false;
    for (size_t i = 0; i < kGdiTableEntries; ++i) {
        if (!table[i].type) continue;
        ++inUse;
        if (table[i].ownerProcessId) anyOwner = true;
        if (table[i].ownerProcessId == self) ++owned;
    }
    return anyOwner ? owned : inUse;
#else
    return 0;  // the 32-bit table has another layout; GetGuiResources answers there
#endif
}

// Windows of the process: top-level and message-only, with their children.
inline DWORD WindowsOf(DWORD pid)
{
    struct Count {
        DWORD pid, count;
        static BOOL CALLBACK One(HWND window, LPARAM param)
        {
            auto* c = reinterpret_cast<Count*>(param);
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            c->count += owner == c->pid;
            return TRUE;
        }
        static BOOL CALLBACK Tree(HWND window, LPARAM param)
        {
            One(window, param);
            EnumChildWindows(window, One, param);
            return TRUE;
        }
    } c{pid, 0};
    EnumWindows(Count::Tree, reinterpret_cast<LPARAM>(&c));
    for (HWND w = FindWindowExW(HWND_MESSAGE, nullptr, nullptr, nullptr); w; w = FindWindowExW(HWND_MESSAGE, w, nullptr, nullptr))
        Count::Tree(w, reinterpret_cast<LPARAM>(&c));
    return c.count;
}

inline SIZE_T CommittedPrivate(HANDLE process)
{
    SIZE_T sum = 0;
    MEMORY_BASIC_INFORMATION mbi;
    const unsigned char* at = nullptr;
    while (VirtualQueryEx(process, at, &mbi, sizeof(mbi)) == sizeof(mbi)) {
        if (mbi.State == MEM_COMMIT && mbi.Type == MEM_PRIVATE) sum += mbi.RegionSize;
        const unsigned char* next = static_cast<const unsigned char*>(mbi.BaseAddress) + mbi.RegionSize;
        if (next <= at) break;
        at = next;
    }
    return sum;
}

}  // namespace process_counts_detail

// Counts of `process` (this process by default). Another process needs
// PROCESS_QUERY_INFORMATION; its GDI figure falls back to nothing.
inline ProcessCounts MeasureProcess(HANDLE process = GetCurrentProcess())
{
    namespace d = process_counts_detail;
    const DWORD pid = GetProcessId(process);
    const bool self = pid == GetCurrentProcessId();
    ProcessCounts c;
    if (!GetProcessHandleCount(process, &c.handles) || c.handles == 0) c.handles = d::HandlesFromSystemList(pid);
    c.threads = d::Threads(pid);
    c.gdi = GetGuiResources(process, GR_GDIOBJECTS);
    if (c.gdi == 0 && self) c.gdi = d::GdiFromTable();
    c.user = GetGuiResources(process, GR_USEROBJECTS);
    if (c.user == 0) c.user = d::WindowsOf(pid);
    PROCESS_MEMORY_COUNTERS_EX pmc{};
    pmc.cb = sizeof(pmc);
    if (GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&pmc), sizeof(pmc)))
        c.privateBytes = pmc.PrivateUsage;
    if (c.privateBytes == 0) c.privateBytes = d::CommittedPrivate(process);
    return c;
}

}  // namespace testing_support

// Resource counts of a process (handles, threads, GDI and USER objects,
// private memory) for leak checks and benchmark figures: the platform's own
// counter where it answers (under Wine 8 the handle, GUI and PrivateUsage
// counters answer 0), else a count of the objects themselves.
#pragma once

#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace testing_support {

struct ProcessCounts {
    DWORD handles = 0, threads = 0, gdi = 0, user = 0;
    SIZE_T privateBytes = 0;
};

namespace process_counts_detail {

template <class Fn>
Fn NtFunction(const char* name)
{
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), name)));
}

// The size of a process's handle table (Wine's HandleCount for it), or 0.
inline DWORD HandleTableSize(DWORD pid)
{
    static const auto query = NtFunction<LONG(NTAPI*)(ULONG, PVOID, ULONG, PULONG)>("NtQuerySystemInformation");
    static thread_local std::vector<ULONG_PTR> buffer(256 * 1024);
    ULONG needed = 0;
    if (!query || query(SystemProcessInformation, buffer.data(), static_cast<ULONG>(buffer.size() * sizeof(ULONG_PTR)), &needed) < 0)
        return 0;
    for (auto at = reinterpret_cast<const unsigned char*>(buffer.data());;) {
        const auto* p = reinterpret_cast<const SYSTEM_PROCESS_INFORMATION*>(at);
        if (reinterpret_cast<ULONG_PTR>(p->UniqueProcessId) == pid) return p->HandleCount;
        if (!p->NextEntryOffset) return 0;
        at += p->NextEntryOffset;
    }
}

// The handles of a process counted one by one over its handle table. Never
// through the system handle list (SystemExtendedHandleInformation): Wine 8's
// server walks past the end of an empty handle table, which every process
// has while it starts, and crashes, leaving every Windows process of the
// prefix waiting forever.
inline DWORD HandlesByProbing(HANDLE process)
{
    const DWORD pid = GetProcessId(process);
    const bool self = pid == GetCurrentProcessId();
    DWORD size = HandleTableSize(pid), n = 0;
    if (size == 0 || size > 1u << 20) size = 4096;
    for (ULONG_PTR i = 1; i <= size; ++i) {
        const HANDLE h = reinterpret_cast<HANDLE>(i * 4);
        DWORD flags = 0;
        HANDLE copy = nullptr;
        if (self ? GetHandleInformation(h, &flags) != FALSE
                 : DuplicateHandle(process, h, GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS) != FALSE)
            ++n;
        if (copy) CloseHandle(copy);
    }
    return n;
}

inline DWORD Threads(DWORD pid)
{
    DWORD count = 0;
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snap == INVALID_HANDLE_VALUE) return 0;
    THREADENTRY32 te{};
    te.dwSize = sizeof(te);
    for (BOOL ok = Thread32First(snap, &te); ok; ok = Thread32Next(snap, &te)) count += te.th32OwnerProcessID == pid;
    CloseHandle(snap);
    return count;
}

// GDI objects of this process by the table at PEB.GdiSharedHandleTable: the
// entries it owns, or all in use when none names an owner (Wine's private
// table, whose entries have the 64-bit layout in both kinds of process). A
// 32-bit process under WoW64 finds it in its 64-bit PEB, one page below the
// 32-bit one (where Wine leaves the field empty).
inline DWORD GdiFromTable()
{
    struct Entry {
        UINT64 object;
        USHORT ownerProcessId, ownerCount, unique;
        UCHAR type, flags;
        UINT64 user;
    };
    static_assert(sizeof(Entry) == 24, "GDI table entry layout");
    static const auto query =
        NtFunction<LONG(NTAPI*)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG)>("NtQueryInformationProcess");
    PROCESS_BASIC_INFORMATION info{};
    if (!query || query(GetCurrentProcess(), ProcessBasicInformation, &info, sizeof(info), nullptr) < 0 ||
        !info.PebBaseAddress)
        return 0;
    const unsigned char* peb = reinterpret_cast<const unsigned char*>(info.PebBaseAddress);
#ifndef _WIN64
    BOOL wow64 = FALSE;
    if (!IsWow64Process(GetCurrentProcess(), &wow64) || !wow64) return 0;
    peb -= 0x1000;
#endif
    UINT64 address = 0;
    std::memcpy(&address, peb + 0xF8, sizeof(address));
    if (!address || address > UINTPTR_MAX) return 0;
    const Entry* table = reinterpret_cast<const Entry*>(static_cast<uintptr_t>(address));
    const USHORT self = static_cast<USHORT>(GetCurrentProcessId());
    DWORD inUse = 0, owned = 0;
    bool anyOwner = false;
    for (size_t i = 0; i < 0x10000; ++i) {
        if (!table[i].type) continue;
        ++inUse;
        anyOwner = anyOwner || table[i].ownerProcessId;
        owned += table[i].ownerProcessId == self;
    }
    return anyOwner ? owned : inUse;
}

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

// Another process needs PROCESS_QUERY_INFORMATION and PROCESS_DUP_HANDLE; its GDI figure falls back to nothing.
inline ProcessCounts MeasureProcess(HANDLE process = GetCurrentProcess())
{
    namespace d = process_counts_detail;
    const DWORD pid = GetProcessId(process);
    ProcessCounts c;
    if (!GetProcessHandleCount(process, &c.handles) || c.handles == 0) c.handles = d::HandlesByProbing(process);
    c.threads = d::Threads(pid);
    c.gdi = GetGuiResources(process, GR_GDIOBJECTS);
    if (c.gdi == 0 && pid == GetCurrentProcessId()) c.gdi = d::GdiFromTable();
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

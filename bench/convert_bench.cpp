// Converts one file through the converter object with the filter pack
// registered in-process and prints how long the graph took to build, how long
// the conversion ran, the process's peak working set and its peak private
// memory (what a 32-bit process's address space must hold), and its pointer
// size; with OUTPUT "-" only how long LoadFile took (what a program's window
// waits for).
//   convert_bench.exe SOURCE OUTPUT mp3|wav [stereo|joint] [vbr]
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cwchar>
#include <memory>

#include "atl_halvex.h"
#include "event_window.h"
#include "filter_pack.h"
#include "test_platform.h"

namespace {

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
// Counts the converter's events.
class Events : public IDispatch {
public:
    int finished = 0, errors = 0;
    LONG lastError = 0;
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override
    {
        *out = (iid == IID_IUnknown || iid == IID_IDispatch) ? static_cast<IDispatch*>(this) : nullptr;
        return *out ? S_OK : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP GetTypeInfoCount(UINT* n) override { *n = 0; return S_OK; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* p, VARIANT*, EXCEPINFO*, UINT*) override
    {
        if (id == 2) ++finished;
        if (id == 3) {
            ++errors;
            if (p && p->cArgs == 1) lastError = p->rgvarg[0].lVal;
        }
        return S_OK;
    }
};
#pragma GCC diagnostic pop

// The process's private bytes at their highest. Windows keeps the peak
// (PeakPagefileUsage); Wine gives only the current private pages, in
// PagefileUsage, so the conversion's loop also samples them.
class PrivatePeak {
public:
    void Sample()
    {
        PROCESS_MEMORY_COUNTERS_EX m{};
        m.cb = sizeof m;
        if (!GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&m), sizeof m)) return;
        for (const SIZE_T v : {m.PeakPagefileUsage, m.PagefileUsage, m.PrivateUsage}) peak_ = v > peak_ ? v : peak_;
    }
    double Mb() const { return static_cast<double>(peak_) / (1024.0 * 1024.0); }

private:
    SIZE_T peak_ = 0;
};

double Seconds(LARGE_INTEGER a, LARGE_INTEGER b, LARGE_INTEGER f)
{
    return static_cast<double>(b.QuadPart - a.QuadPart) / static_cast<double>(f.QuadPart);
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 4 || argc > 6) {
        std::fprintf(stderr, "usage: convert_bench SOURCE OUTPUT mp3|wav [stereo|joint] [vbr]\n");
        return 2;
    }
    testing_support::ComApartment com;
    testing_support::FilterPackRegistration pack;
    auto converter = std::make_unique<corvane::AtlHalvex>();
    corvane::GraphEventWindow window(*converter);
    Events events;
    converter->Sinks().Add(&events);

    LARGE_INTEGER f, t0, tl, t1, t2;
    QueryPerformanceFrequency(&f);
    BSTR source = SysAllocString(argv[1]);
    BSTR output = SysAllocString(argv[2]);
    converter->put_Format(std::wcscmp(argv[3], L"wav") == 0 ? 0 : 1);
    // The encoder's channel mode: 0 plain stereo (the converter's default), 1 joint stereo.
    if (argc >= 5) converter->put_MP3_Channels(std::wcscmp(argv[4], L"joint") == 0 ? 1 : 0);
    // Variable bitrate over the converter's default range (56 to 160 kbit/s).
    if (argc == 6) converter->put_MP3_VBR(std::wcscmp(argv[5], L"vbr") == 0 ? 1 : 0);
    QueryPerformanceCounter(&t0);
    LONG stage = -1;
    converter->get_LoadFile(source, &stage);
    QueryPerformanceCounter(&tl);
    if (std::wcscmp(argv[2], L"-") == 0) {
        std::printf("load_stage=%ld load_ms=%.1f\n", stage, Seconds(t0, tl, f) * 1000);
        return 0;
    }
    converter->put_SaveFile(output);
    converter->Convert();
    QueryPerformanceCounter(&t1);
    converter->Play();
    const DWORD start = GetTickCount();
    PrivatePeak privatePeak;
    while (events.finished == 0 && events.errors == 0 && GetTickCount() - start < 3 * 3600000) {
        privatePeak.Sample();
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
    QueryPerformanceCounter(&t2);
    LONG total = 0;
    converter->get_TotalLength(&total);
    PROCESS_MEMORY_COUNTERS mem{};
    GetProcessMemoryInfo(GetCurrentProcess(), &mem, sizeof mem);
    privatePeak.Sample();
    std::printf("load_stage=%ld finished=%d errors=%d last_error=%ld total_s=%ld build_ms=%.1f convert_s=%.2f peak_mb=%.1f "
                "peak_private_mb=%.1f bits=%u\n",
                stage, events.finished, events.errors, events.lastError, total, Seconds(t0, t1, f) * 1000,
                Seconds(t1, t2, f), static_cast<double>(mem.PeakWorkingSetSize) / (1024.0 * 1024.0), privatePeak.Mb(),
                static_cast<unsigned>(sizeof(void*) * 8));
    converter.reset();
    SysFreeString(source);
    SysFreeString(output);
    return events.finished == 1 ? 0 : 1;
}

// A client of the control as a script host is one, in either bitness:
//     views_client <source> <target.wav>
// creates the control by its ProgID, converts the source through its
// automation interface (names resolved by the registered type library) and
// checks that corvane.dll and vellumo_filters.dll serve it from inside its own
// process. Exit code 0 when all is well; otherwise it says what failed.
#include <windows.h>
#include <oleauto.h>

#include <cstdio>
#include <string>

#include "com_ptr.h"
#include "in_process_check.h"

namespace {

using corvane::ComPtr;

int Fail(const char* what, HRESULT hr = S_OK)
{
    std::printf("views_client (%d-bit): %s (0x%08lx)\n", int(sizeof(void*) * 8), what, static_cast<unsigned long>(hr));
    return 1;
}

// A late-bound call: a method or property read (put: a property write of arg).
HRESULT Call(IDispatch* object, const wchar_t* name, VARIANT* result, const VARIANT* arg = nullptr, bool put = false)
{
    DISPID id = 0;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr)) return hr;
    VARIANT argument = arg ? *arg : VARIANT{};
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params = {arg ? &argument : nullptr, put ? &named : nullptr, arg ? 1u : 0u, put ? 1u : 0u};
    if (result) VariantInit(result);
    return object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT,
                          put ? DISPATCH_PROPERTYPUT : DISPATCH_METHOD | DISPATCH_PROPERTYGET, &params, result, nullptr, nullptr);
}

HRESULT CallWithText(IDispatch* object, const wchar_t* name, const wchar_t* text, VARIANT* result, bool put)
{
    VARIANT arg;
    arg.vt = VT_BSTR;
    arg.bstrVal = SysAllocString(text);
    const HRESULT hr = Call(object, name, result, &arg, put);
    VariantClear(&arg);
    return hr;
}

LONG Seconds(IDispatch* object, const wchar_t* name)
{
    VARIANT v;
    if (FAILED(Call(object, name, &v)) || FAILED(VariantChangeType(&v, &v, 0, VT_I4))) return -1;
    return v.lVal;
}

void PumpFor(DWORD ms)
{
    const DWORD end = GetTickCount() + ms;
    for (MSG msg; static_cast<LONG>(end - GetTickCount()) > 0;) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    }
}

int Convert(const wchar_t* source, const wchar_t* target)
{
    CLSID clsid;
    HRESULT hr = CLSIDFromProgID(L"corvane.AtlHalvex", &clsid);
    if (FAILED(hr)) return Fail("the ProgID corvane.AtlHalvex is not registered", hr);
    // As CreateObject asks: any kind of server.
    ComPtr<IDispatch> control;
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_SERVER, IID_IDispatch, control.PutVoid());
    if (FAILED(hr)) return Fail("the control cannot be created", hr);
    const std::string problem = testing_support::InProcessProblem(L"corvane.dll");
    if (!problem.empty()) return Fail(("corvane.dll: " + problem).c_str());
    VARIANT stage;
    hr = CallWithText(control.Get(), L"LoadFile", source, &stage, false);
    if (FAILED(hr) || FAILED(VariantChangeType(&stage, &stage, 0, VT_I4)) || stage.lVal != 0)
        return Fail("LoadFile did not answer 0", hr);
    VARIANT wav;
    wav.vt = VT_I4;
    wav.lVal = 0;
    if (FAILED(hr = CallWithText(control.Get(), L"SaveFile", target, nullptr, true)) ||
        FAILED(hr = Call(control.Get(), L"Format", nullptr, &wav, true)) || FAILED(hr = Call(control.Get(), L"Convert", nullptr)) ||
        FAILED(hr = Call(control.Get(), L"Play", nullptr)))
        return Fail("the conversion cannot be started", hr);
    const LONG total = Seconds(control.Get(), L"TotalLength");
    LONG done = -1;
    for (int still = 0, turns = 0; still < 3 && turns < 120; ++turns) {
        PumpFor(250);
        const LONG now = Seconds(control.Get(), L"CurrentLength");
        still = now == done && now >= total ? still + 1 : 0;
        done = now;
    }
    Call(control.Get(), L"Stop", nullptr);
    if (total <= 0 || done < total) return Fail(("converted " + std::to_string(done) + " of " + std::to_string(total) + " s").c_str());
    const std::string packProblem = testing_support::InProcessProblem(L"vellumo_filters.dll");
    if (!packProblem.empty()) return Fail(("vellumo_filters.dll: " + packProblem).c_str());
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(target, GetFileExInfoStandard, &data) || data.nFileSizeLow < 44 + 8000u * total)
        return Fail("the target holds less than the source's length of sound");
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3) return Fail("usage: views_client <source> <target.wav>");
    if (FAILED(CoInitialize(nullptr))) return Fail("no COM");
    const int rc = Convert(argv[1], argv[2]);
    CoUninitialize();
    return rc;
}

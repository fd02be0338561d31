// Helpers shared by the corvane.dll tests.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>
#include <objbase.h>
#include <olectl.h>

#include <string>
#include <vector>

#include "com_ptr.h"
#include "corvane_idl.h"
#include "event_recorder.h"
#include "in_process_check.h"
#include "test_platform.h"

namespace server_test {

using corvane::ComPtr;
using Strings = std::vector<std::string>;

// corvane.dll beside the running test program.
inline std::wstring ServerPath()
{
    wchar_t path[MAX_PATH];
    std::wstring dir(path, GetModuleFileNameW(nullptr, path, MAX_PATH));
    return dir.substr(0, dir.find_last_of(L'\\') + 1) + L"corvane.dll";
}

template <class I>
ComPtr<I> NewControl()
{
    ComPtr<I> control;
    CoCreateInstance(CLSID_AtlHalvex, nullptr, CLSCTX_INPROC_SERVER, __uuidof(I), control.PutVoid());
    if (control) EXPECT_EQ("", testing_support::InProcessProblem(L"corvane.dll")) << "corvane.dll";
    return control;
}

// A test with a new control, asked for I, in its own apartment.
template <class I>
class ControlTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_HRESULT_SUCCEEDED(apartment_.Result());
        ASSERT_TRUE(control_ = NewControl<I>());
    }
    template <class J>
    ComPtr<J> As()
    {
        ComPtr<J> itf;
        EXPECT_EQ(S_OK, control_.As(itf));
        return itf;
    }

    testing_support::ComApartment apartment_;
    ComPtr<I> control_;
};

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
inline DWORD Advise(IUnknown* control, IUnknown* sink)
{
    ComPtr<IConnectionPointContainer> container;
    ComPtr<IConnectionPoint> point;
    DWORD cookie = 0;
    if (SUCCEEDED(control->QueryInterface(IID_IConnectionPointContainer, container.PutVoid())) &&
        SUCCEEDED(container->FindConnectionPoint(DIID__IAtlHalvexEvents, point.Put())))
        point->Advise(sink, &cookie);
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

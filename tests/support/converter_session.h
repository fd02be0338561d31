// BSTR arguments, and a converter with its notification window and an event
// recorder that converts a file and waits for the outcome. (event_recorder.h
// comes from tests/engine: add it to the include path.)
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "atl_halvex.h"
#include "event_recorder.h"
#include "event_window.h"

namespace testing_support {

class Bstr {
public:
    explicit Bstr(const std::wstring& text) : b_(SysAllocString(text.c_str())) {}
    ~Bstr() { SysFreeString(b_); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    operator BSTR() const { return b_; }

private:
    BSTR b_;
};

using fakes::PumpUntil;

// A converter as the control holds it, with its notification window and a recorder of its events.
class ConverterSession {
public:
    ConverterSession() : converter(std::make_unique<corvane::AtlHalvex>()), window_(*converter)
    {
        cookie_ = converter->Sinks().Add(&events);
    }
    ~ConverterSession() { converter->Sinks().Remove(cookie_); }
    ConverterSession(const ConverterSession&) = delete;
    ConverterSession& operator=(const ConverterSession&) = delete;

    // LoadFile's stage code (0: ready to convert).
    LONG Load(const std::wstring& source)
    {
        LONG stage = -1;
        converter->get_LoadFile(Bstr(source), &stage);
        return stage;
    }
    // SaveFile, Convert and, when Convert reported nothing, Play; then pumps
    // messages until the first event (whilePlaying runs once after Play,
    // onWait at every turn) and settleMs more. The events' names (none within
    // timeoutMs: empty); the run is stopped before returning.
    std::vector<std::string> Run(const std::wstring& output, DWORD timeoutMs,
                                 const std::function<void()>& whilePlaying = {},
                                 const std::function<void()>& onWait = {}, DWORD settleMs = 0)
    {
        converter->put_SaveFile(Bstr(output));
        events.Clear();
        converter->Convert();
        if (events.Events().empty()) {
            converter->Play();
            if (whilePlaying) whilePlaying();
            PumpUntil([&] { if (onWait) onWait(); return !events.Events().empty(); }, timeoutMs);
            if (settleMs) fakes::PumpFor(settleMs);
        }
        std::vector<std::string> names = events.Names();
        converter->Stop();
        return names;
    }

    std::unique_ptr<corvane::AtlHalvex> converter;
    fakes::EventRecorder events;

private:
    corvane::GraphEventWindow window_;
    DWORD cookie_ = 0;
};

}  // namespace testing_support

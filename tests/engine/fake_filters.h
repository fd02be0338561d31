// Test doubles for the filters of the converter's graphs, registered
// in-process with CoRegisterClassObject under the real class identifiers so
// that the converter's CoCreateInstance finds them instead of the installed
// filters. Each double is configured per class and records what it receives
// in a shared log.
#pragma once

#include "dshow_uuids.h"

#include <map>
#include <string>
#include <vector>

#include "filter_ids.h"
#include "filter_interfaces.h"
#include "test_platform.h"

namespace fakes {

struct PinSetup {
    std::wstring name;
    PIN_DIRECTION direction;
    bool refuseConnection = false;
    bool failInfo = false;  // QueryPinInfo fails
};

struct FilterSetup {
    std::string role;            // short name used in the log: reader, splitter, ...
    std::vector<PinSetup> pins;
    bool failCreate = false;     // the class object refuses to create it
    bool failJoin = false;       // JoinFilterGraph fails, so AddFilter fails
    bool missingExtra = false;   // the interface of its role is not offered
    bool oldWriter = false;      // file writer: no IFileSinkFilter2, GetCurFile fails
    HRESULT failPause = S_OK;    // Pause fails with it (a file writer that cannot open its file)
    DWORD pauseError = 0;        // ... leaving this as the thread's last error
    HRESULT failStop = S_OK;     // Stop fails with it, the filter staying as it was
    LONGLONG duration = -1;      // >= 0: filter-level IMediaSeeking with this duration (100 ns)
    LONGLONG elapsed = 0;        // WAV writer: GetTime; negative: GetTime fails
    WAVEFORMATEX offered{};      // ACM wrapper: what GetFormat returns
    ULONG offeredFormatSize = sizeof(WAVEFORMATEX);
};

// The whole set of doubles for one test: setups, registrations, log, counts.
class FakeLab {
public:
    FakeLab();   // default setups of a pipeline that connects
    ~FakeLab();  // revokes the registrations
    FakeLab(const FakeLab&) = delete;
    FakeLab& operator=(const FakeLab&) = delete;

    void ResetSetups();
    // Registers a class object for every class that has a setup, or for one.
    bool Register();
    bool Register(const CLSID& clsid);

    FilterSetup& Setup(const CLSID& clsid) { return setups_[clsid]; }
    FilterSetup& Reader() { return Setup(CLSID_AsyncReader); }
    FilterSetup& Splitter() { return Setup(corvane::CLSID_RealSplitter); }
    FilterSetup& Decoder() { return Setup(corvane::CLSID_RealAudioDecoder); }
    FilterSetup& Acm() { return Setup(CLSID_ACMWrapper); }
    FilterSetup& Encoder() { return Setup(corvane::CLSID_Mp3Encoder); }
    FilterSetup& WavDest() { return Setup(corvane::CLSID_WavDest); }
    FilterSetup& Writer() { return Setup(CLSID_FileWriter); }

    void Log(const std::string& line) { log_.push_back(line); }
    const std::vector<std::string>& Entries() const { return log_; }
    // Log lines that start with prefix, in order.
    std::vector<std::string> With(const std::string& prefix) const;
    void ClearLog() { log_.clear(); }

    // Double filters alive, and paused or running.
    long liveFilters = 0;
    long activeFilters = 0;
    // The graph the most recent filter joined (not a reference).
    IFilterGraph* lastGraph = nullptr;

private:
    struct GuidLess {
        bool operator()(const GUID& a, const GUID& b) const { return memcmp(&a, &b, sizeof(GUID)) < 0; }
    };
    std::map<GUID, FilterSetup, GuidLess> setups_;
    std::vector<std::string> log_;
    std::vector<DWORD> cookies_;
};

inline std::string Narrow(const wchar_t* text) { return testing_support::Narrow(text ? text : L""); }

}  // namespace fakes

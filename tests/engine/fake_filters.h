// Test doubles for the seven filters of the converter's graphs, registered
// in-process with CoRegisterClassObject under the real class identifiers so
// that the converter's CoCreateInstance finds them instead of the installed
// filters. Each double is configured per class (pins, failures, extra
// interfaces) and records what it receives in a shared log.
#pragma once

#include "dshow_uuids.h"

#include <map>
#include <string>
#include <vector>

#include "filter_ids.h"
#include "filter_interfaces.h"

namespace fakes {

struct PinSetup {
    std::wstring name;
    PIN_DIRECTION direction;
    bool refuseConnection = false;
};

struct FilterSetup {
    std::string role;            // short name used in the log: reader, splitter, ...
    std::vector<PinSetup> pins;
    bool failCreate = false;     // the class object refuses to create it
    bool failJoin = false;       // JoinFilterGraph fails, so AddFilter fails
    bool missingExtra = false;   // the extra interface is not offered
    bool missingSink2 = false;   // file writer: no IFileSinkFilter2
    bool getCurFileFails = false;
    bool renderer = false;
    DWORD failPauseError = 0;    // nonzero: Pause fails with this system error
    HRESULT failPauseResult = S_OK;  // failure: Pause fails with it and sets no system error       // IAMFilterMiscFlags says renderer
    LONGLONG duration = -1;      // >= 0: filter-level IMediaSeeking with this duration (100 ns)
    LONGLONG elapsed = 0;        // WAV writer: GetTime
    bool getTimeFails = false;
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

    // Back to the default setups.
    void ResetSetups();
    // Registers a class object for each of the seven class identifiers.
    bool Register();

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

    // Live double objects (filters), for reference counting.
    long LiveFilters() const { return liveFilters_; }
    void FilterBorn() { ++liveFilters_; }
    void FilterDied() { --liveFilters_; }
    // Double filters currently paused or running.
    long ActiveFilters() const { return activeFilters_; }
    void ActiveChanged(long delta) { activeFilters_ += delta; }

    // The graph the most recent filter joined (not a reference).
    IFilterGraph* LastGraph() const { return lastGraph_; }
    void SetLastGraph(IFilterGraph* graph) { lastGraph_ = graph; }

    static FakeLab* Current();

private:
    struct GuidLess {
        bool operator()(const GUID& a, const GUID& b) const { return memcmp(&a, &b, sizeof(GUID)) < 0; }
    };
    std::map<GUID, FilterSetup, GuidLess> setups_;
    std::vector<std::string> log_;
    std::vector<DWORD> cookies_;
    std::vector<IClassFactory*> factories_;
    long activeFilters_ = 0;
    long liveFilters_ = 0;
    IFilterGraph* lastGraph_ = nullptr;
};

std::string Narrow(const wchar_t* text);

}  // namespace fakes

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

struct PinSpec {
    std::wstring name;
    PIN_DIRECTION direction;
    bool refuseConnection = false;
};

struct FilterSpec {
    std::string role;            // short name used in the log: reader, splitter, ...
    std::vector<PinSpec> pins;
    bool failCreate = false;     // the class object refuses to create it
    bool failJoin = false;       // JoinFilterGraph fails, so AddFilter fails
    bool missingExtra = false;   // the extra interface is not offered
    bool missingSink2 = false;   // file writer: no IFileSinkFilter2
    bool getCurFileFails = false;
    bool renderer = false;
    DWORD failPauseError = 0;    // nonzero: Pause fails with this system error       // IAMFilterMiscFlags says renderer
    LONGLONG duration = -1;      // >= 0: filter-level IMediaSeeking with this duration (100 ns)
    LONGLONG elapsed = 0;        // WAV writer: GetTime
    bool getTimeFails = false;
    WAVEFORMATEX offered{};      // ACM wrapper: what GetFormat returns
    ULONG offeredFormatSize = sizeof(WAVEFORMATEX);
};

// The whole set of doubles for one test: specs, registrations, log, counts.
class FakeLab {
public:
    FakeLab();   // default specs of a pipeline that connects
    ~FakeLab();  // revokes the registrations
    FakeLab(const FakeLab&) = delete;
    FakeLab& operator=(const FakeLab&) = delete;

    // Back to the default specs.
    void ResetSpecs();
    // Registers a class object for each of the seven class identifiers.
    bool Register();

    FilterSpec& Spec(const CLSID& clsid) { return specs_[clsid]; }
    FilterSpec& Reader() { return Spec(CLSID_AsyncReader); }
    FilterSpec& Splitter() { return Spec(corvane::CLSID_RealSplitter); }
    FilterSpec& Decoder() { return Spec(corvane::CLSID_RealAudioDecoder); }
    FilterSpec& Acm() { return Spec(CLSID_ACMWrapper); }
    FilterSpec& Encoder() { return Spec(corvane::CLSID_Mp3Encoder); }
    FilterSpec& WavDest() { return Spec(corvane::CLSID_WavDest); }
    FilterSpec& Writer() { return Spec(CLSID_FileWriter); }

    void Log(const std::string& line) { log_.push_back(line); }
    const std::vector<std::string>& Entries() const { return log_; }
    // Log lines that start with prefix, in order.
    std::vector<std::string> With(const std::string& prefix) const;
    void ClearLog() { log_.clear(); }

    // Live double objects (filters), for reference counting.
    long LiveFilters() const { return liveFilters_; }
    void FilterBorn() { ++liveFilters_; }
    void FilterDied() { --liveFilters_; }

    // The graph the most recent filter joined (not a reference).
    IFilterGraph* LastGraph() const { return lastGraph_; }
    void SetLastGraph(IFilterGraph* graph) { lastGraph_ = graph; }

    static FakeLab* Current();

private:
    struct GuidLess {
        bool operator()(const GUID& a, const GUID& b) const { return memcmp(&a, &b, sizeof(GUID)) < 0; }
    };
    std::map<GUID, FilterSpec, GuidLess> specs_;
    std::vector<std::string> log_;
    std::vector<DWORD> cookies_;
    std::vector<IClassFactory*> factories_;
    long liveFilters_ = 0;
    IFilterGraph* lastGraph_ = nullptr;
};

std::string Narrow(const wchar_t* text);

}  // namespace fakes

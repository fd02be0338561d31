// Test doubles for the filters of the converter's graphs, registered
// in-process under the real class identifiers; each is configured per class
// and logs what it receives.
#pragma once

#include "dshow_uuids.h"

#include <functional>
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
    std::string role;  // its name in the log: reader, splitter, ...
    std::vector<PinSetup> pins;
    bool failCreate = false;    // the class object refuses to create it
    bool failJoin = false;      // so AddFilter fails
    bool missingExtra = false;  // the interface of its role is not offered
    bool oldWriter = false;     // file writer: no IFileSinkFilter2, GetCurFile fails
    HRESULT failPause = S_OK;   // leaving pauseError as the thread's last error
    DWORD pauseError = 0;
    bool keepThreadError = false;  // a refused Pause leaves the thread's error as it is
    bool writesFile = false;    // file writer: Pause creates (or replaces) its file and writes its name into it
    HRESULT failStop = S_OK;
    LONGLONG duration = -1;   // >= 0: filter-level IMediaSeeking with this duration (100 ns)
    LONGLONG elapsed = 0;     // WAV writer: GetTime; negative: GetTime fails
    ULONGLONG outputLength = 0;  // WAV writer: > 0, IWavDestOutput with this length
    WAVEFORMATEX offered{};   // ACM wrapper: what GetFormat returns
    ULONG offeredFormatSize = sizeof(WAVEFORMATEX);
};

// The doubles of one test: setups, registrations, log, counts.
class FakeLab {
public:
    FakeLab();   // setups of a pipeline that connects
    ~FakeLab();  // revokes the registrations
    FakeLab(const FakeLab&) = delete;
    FakeLab& operator=(const FakeLab&) = delete;

    void ResetSetups();
    // A class object for every class that has a setup, or for one.
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
    std::vector<std::string> With(const std::string& prefix) const  // the lines that start so
    {
        std::vector<std::string> out;
        for (const std::string& line : log_) if (line.compare(0, prefix.size(), prefix) == 0) out.push_back(line);
        return out;
    }
    void ClearLog() { log_.clear(); }

    long liveFilters = 0, activeFilters = 0;  // doubles alive; paused or running
    long runs = 0;                            // Run calls the doubles received
    // What a writer that writes its file raises when it runs, by its file's
    // name: EC_COMPLETE, EC_ERRORABORT, or 0 for nothing.
    std::function<long(const std::wstring& file)> endingFor;
    IFilterGraph* lastGraph = nullptr;        // the graph a double last joined (not held)

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

// Reads what a drop or the command line names on a thread of its own, so that
// a large or slow tree never holds up the window.
#pragma once

#include <windows.h>

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "file_drop.h"

namespace vellumo {

class FolderReader {
public:
    FolderReader();
    ~FolderReader();
    FolderReader(const FolderReader&) = delete;
    FolderReader& operator=(const FolderReader&) = delete;

    // Reads the sources the names bring (CollectSources), after any names
    // given before, and posts message to window once they are all read.
    void Read(HWND window, UINT message, std::vector<std::wstring> names);
    // Sources read so far, one list per Read, in the order given.
    std::vector<std::vector<SourceEntry>> TakeRead();
    // True from Read until every name given is read (or the reading is cancelled).
    bool Reading() const;
    // Folders that could not be read, of the sources taken so far; counted
    // afresh after each call.
    std::size_t TakeUnreadable();
    // Files found so far by the Read being read now.
    std::size_t FoundSoFar() const;
    // True, once, when memory ran out during the reading: it stopped there,
    // and what was being read and what waited were dropped (what had been
    // read whole is still taken).
    bool TakeOutOfMemory();
    // Stops the reading: what is being read, what waits and what was read
    // but not yet taken are dropped.
    void Cancel();

    // Called on the reading thread now and then while names are read; what
    // it throws is thrown there (tests make memory run out with it).
    static void (*whileReading)();

private:
    struct State;
    static DWORD WINAPI ThreadMain(void* parameter);
    // ReadAll, with a failed allocation turned into the end of the reading.
    static void ReadOrStop(State& state);
    static void ReadAll(State& state, unsigned* generation);

    std::shared_ptr<State> state_;
    HANDLE thread_ = nullptr;
};

}  // namespace vellumo

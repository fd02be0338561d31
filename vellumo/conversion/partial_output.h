// An output written under a temporary name beside its final one and given
// the final name in one step once it is whole. Until then a file of the
// final name (an earlier conversion, another program's file) stays as it
// was; a file that does not complete leaves nothing behind.
#pragma once

#include <windows.h>

#include <string>

namespace vellumo {

// "D:\Out\song.mp3.vellumo-1234.partial" for D:\Out\song.mp3, process 1234
// and attempt 1; later attempts add "-2", "-3", ... after the process id.
// The name is tied to the output it stands for, so a leftover after a crash
// is plain to see, and the ending is one nobody keeps a file under.
std::wstring PartialName(const std::wstring& finalPath, DWORD processId, int attempt);

class PartialOutput {
public:
    // Picks a temporary name that nothing in the folder holds yet. A final
    // file that another program holds open (a virus scanner, the indexer, a
    // player) is waited for up to retryMs before the replacement fails.
    explicit PartialOutput(std::wstring finalPath, DWORD retryMs = 3000);
    // A temporary file not kept is deleted.
    ~PartialOutput() { Discard(); }
    PartialOutput(const PartialOutput&) = delete;
    PartialOutput& operator=(const PartialOutput&) = delete;

    const std::wstring& FinalPath() const { return final_; }
    const std::wstring& TempPath() const { return temp_; }

    // Replaces the file of the final name, if any, by the temporary file in
    // one step, once the temporary file's data is on the disk, and writes the
    // new name through: a crash at any moment leaves the earlier file or the
    // whole new one. False, with the system's error code, when it cannot: the
    // temporary file is deleted then and the final one left as it was.
    bool Keep(DWORD* error);
    // Deletes the temporary file (nothing once it was kept).
    void Discard();

private:
    std::wstring final_;
    std::wstring temp_;
    DWORD retryMs_;
    bool settled_ = false;
};

}  // namespace vellumo

// List1, the source list: the full paths of the files to convert, in the
// order added, each listed once, and for each the folder its output path is
// taken relative to.
#pragma once

#include <windows.h>

#include <string>
#include <unordered_set>
#include <vector>

namespace vellumo {

class SourceList {
public:
    void Attach(HWND list) { list_ = list; }

    int Count() const;
    std::wstring At(int index) const;
    // The folder the entry's output path is taken relative to; empty for a
    // file added on its own.
    std::wstring OriginAt(int index) const;
    // Removes the selected entry and selects the one that took its place (or
    // the last), so that repeated deletes walk down the list; false when no
    // entry is selected.
    bool DeleteSelected();

    // Adds entries in one go: what is listed is read once into a set, so
    // that adding n files costs n look-ups, not n walks of the whole list;
    // the list is drawn once, at the end.
    class Adding {
    public:
        explicit Adding(SourceList& list);
        ~Adding();
        Adding(const Adding&) = delete;
        Adding& operator=(const Adding&) = delete;
        // Appends path unless an identical entry (exact, case-sensitive) is
        // listed already.
        void AddIfNew(const std::wstring& path, const std::wstring& origin = std::wstring());

    private:
        SourceList& list_;
        std::unordered_set<std::wstring> listed_;
    };

private:
    LPARAM OriginId(const std::wstring& origin);

    HWND list_ = nullptr;
    std::vector<std::wstring> origins_;  // the entries' origins; entry data is index + 1
};

}  // namespace vellumo

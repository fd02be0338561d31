// Two hundred short files in one batch of the real vellumo.exe, to WAV: the
// time, and the program's handles, threads, USER objects and memory every 20
// files, with their growth per file after a warm-up of 20. Run by
// bench/batch_window_bench.sh, after the media and the registrations.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <string>

#include "common/control_ids.h"
#include "gui_driver.h"
#include "process_counts.h"
#include "test_media.h"

using namespace vellumo;

int wmain()
{
    const std::wstring media = realmedia_test::BuildDir() + L"\\test-media\\batch\\many";
    const std::wstring output = realmedia_test::OutputDir(L"bench");

    gui::Program program(L"vellumo bench");
    if (!program.Start()) return std::fprintf(stderr, "vellumo.exe did not start\n"), 1;
    gui::Click(program.MainControl(ids::optWAV));
    gui::WaitFor([&] { return SendMessageW(program.MainControl(ids::optWAV), BM_GETCHECK, 0, 0) == BST_CHECKED; });
    gui::Texts names;
    for (int i = 1; i <= 200; ++i) {
        names.push_back(L"s" + std::to_wstring(1000 + i).substr(1) + L".ra");
        if (!CopyFileW((media + L"\\" + names.back()).c_str(), (program.Folder() + L"\\" + names.back()).c_str(), FALSE))
            return std::fprintf(stderr, "no media: run tests/program/make_batch_media.sh first\n"), 1;
        if (names.size() == 50 && !gui::AddFiles(program, program.Folder(), names)) return 1;
        if (names.size() == 50) names.clear();
    }
    HWND convert = gui::OpenConvert(program, output);
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | PROCESS_DUP_HANDLE, FALSE, program.ProcessId());
    if (!convert || !process) return 1;

    testing_support::ProcessCounts warm{}, last{};
    int warmFile = -1, lastFile = 0;
    const auto take = [&](int file) {
        last = testing_support::MeasureProcess(process);
        PROCESS_MEMORY_COUNTERS m{};
        GetProcessMemoryInfo(process, &m, sizeof(m));
        if (file % 20 == 0)
            std::printf("file %3d: %lu handles, %lu threads, %lu USER, %zu KB private, %zu KB working set\n", file,
                        last.handles, last.threads, last.user, last.privateBytes / 1024, m.WorkingSetSize / 1024);
        if (warmFile < 0 && file >= 20) warm = last, warmFile = file;
        lastFile = file;
    };
    take(0);
    const ULONGLONG start = GetTickCount64();
    const gui::BatchRecord r = gui::RunBatch(program, convert, 1800000, [&](const std::wstring& text) {
        int done = 0, total = 0;
        if (swscanf(text.c_str(), L"Converted Files: %d/%d", &done, &total) == 2) take(done);
    });
    take(200);
    CloseHandle(process);
    const double seconds = (GetTickCount64() - start) / 1000.0, files = lastFile - warmFile;
    std::printf("batch of 200 files: %.1f s (%.1f ms a file)%s, %zu error messages\n", seconds, seconds * 1000 / 200,
                r.finished ? "" : " (did not finish)", r.Errors().size());
    const auto per = [&](double first, double end) { return (end - first) / files; };
    std::printf("growth per file from file %d to %d: %.2f handles, %.2f threads, %.2f USER, %.1f KB private\n",
                warmFile, lastFile, per(warm.handles, last.handles), per(warm.threads, last.threads),
                per(warm.user, last.user), per(warm.privateBytes / 1024.0, last.privateBytes / 1024.0));
    gui::Click(program.MainControl(ids::cmdExit));
    return r.finished && r.Errors().empty() ? 0 : 1;
}

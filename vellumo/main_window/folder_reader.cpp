#include "folder_reader.h"

#include <atomic>
#include <deque>
#include <mutex>
#include <new>
#include <utility>

namespace vellumo {

// Shared by the window and the reading thread, which keeps it alive for as
// long as it runs, even past the window.
struct FolderReader::State {
    std::mutex mutex;
    std::deque<std::vector<std::wstring>> waiting;  // names not yet read
    std::vector<std::vector<SourceEntry>> read;     // read, not yet taken
    std::size_t unreadable = 0;                     // folders of those that could not be read
    std::size_t unfinished = 0;                     // names given, not yet read
    bool outOfMemory = false;                       // the reading stopped for want of memory
    bool threadRunning = false;
    HWND window = nullptr;
    UINT message = 0;
    std::atomic<unsigned> generation{0};  // moves on with every Cancel
    std::atomic<std::size_t> found{0};
};

void (*FolderReader::whileReading)() = nullptr;

FolderReader::FolderReader() : state_(std::make_shared<State>()) {}

FolderReader::~FolderReader()
{
    Cancel();
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        state_->window = nullptr;
    }
    if (thread_) {
        // The reading stops at its next name; a folder on a share that no
        // longer answers may hold it longer, and it then ends on its own.
        WaitForSingleObject(thread_, 5000);
        CloseHandle(thread_);
    }
}

void FolderReader::Read(HWND window, UINT message, std::vector<std::wstring> names)
{
    std::unique_lock<std::mutex> lock(state_->mutex);
    state_->window = window;
    state_->message = message;
    state_->waiting.push_back(std::move(names));
    ++state_->unfinished;
    if (state_->threadRunning) return;
    if (thread_) CloseHandle(thread_);
    auto* shared = new std::shared_ptr<State>(state_);
    thread_ = CreateThread(nullptr, 0, ThreadMain, shared, 0, nullptr);
    if (thread_) {
        state_->threadRunning = true;
        return;
    }
    // Without a thread of its own the names are read here and now.
    delete shared;
    state_->threadRunning = true;
    lock.unlock();
    ReadOrStop(*state_);
}

DWORD WINAPI FolderReader::ThreadMain(void* parameter)
{
    const std::unique_ptr<std::shared_ptr<State>> state(static_cast<std::shared_ptr<State>*>(parameter));
    ReadOrStop(**state);
    return 0;
}

void FolderReader::ReadOrStop(State& state)
{
    for (;;) {
        unsigned generation = 0;
        try {
            ReadAll(state, &generation);
            return;
        } catch (const std::bad_alloc&) {
            // What was being read is let go with the stack; what waits goes
            // too, and the window hears that the reading has ended.
            std::lock_guard<std::mutex> lock(state.mutex);
            // A reading stopped already (Esc) ends as stopped: what was given after it is read.
            if (state.generation != generation) continue;
            state.waiting.clear();
            state.unfinished = 0;
            state.outOfMemory = true;
            state.threadRunning = false;
            if (state.window) PostMessageW(state.window, state.message, 0, 0);
            return;
        }
    }
}

void FolderReader::ReadAll(State& state, unsigned* reading)
{
    for (;;) {
        std::vector<std::wstring> names;
        unsigned generation = 0;
        {
            std::lock_guard<std::mutex> lock(state.mutex);
            if (state.waiting.empty()) {
                state.threadRunning = false;
                return;
            }
            names = std::move(state.waiting.front());
            state.waiting.pop_front();
            generation = state.generation;
            *reading = generation;
            state.found = 0;
        }
        std::vector<SourceEntry> sources;
        std::size_t unreadable = 0;
        const bool complete = CollectSources(names,
                                             [&state, generation](std::size_t found) {
                                                 if (whileReading) whileReading();
                                                 state.found = found;
                                                 return state.generation == generation;
                                             },
                                             &sources, &unreadable);
        std::lock_guard<std::mutex> lock(state.mutex);
        if (!complete || state.generation != generation) continue;
        state.read.push_back(std::move(sources));
        state.unreadable += unreadable;
        if (state.unfinished > 0) --state.unfinished;
        if (state.unfinished == 0 && state.window) PostMessageW(state.window, state.message, 0, 0);
    }
}

std::vector<std::vector<SourceEntry>> FolderReader::TakeRead()
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    return std::exchange(state_->read, {});
}

std::size_t FolderReader::TakeUnreadable()
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    return std::exchange(state_->unreadable, 0);
}

bool FolderReader::Reading() const
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->unfinished > 0;
}

bool FolderReader::TakeOutOfMemory()
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    return std::exchange(state_->outOfMemory, false);
}

std::size_t FolderReader::FoundSoFar() const { return state_->found; }

void FolderReader::Cancel()
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    ++state_->generation;
    state_->waiting.clear();
    state_->read.clear();
    state_->unreadable = 0;
    state_->unfinished = 0;
    state_->outOfMemory = false;
}

}  // namespace vellumo

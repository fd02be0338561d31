// The batch's progress on the program's taskbar button, for a batch left to
// run unwatched: the share of files done, drawn as an error (red) once a file
// has failed. The button shows no progress again once the object goes.
#pragma once

#include <windows.h>
#include <shobjidl.h>

#include "com_ptr.h"

namespace vellumo {

class TaskbarProgress {
public:
    // Without a taskbar (no shell, an older Windows) nothing is shown.
    explicit TaskbarProgress(HWND button);
    ~TaskbarProgress();
    TaskbarProgress(const TaskbarProgress&) = delete;
    TaskbarProgress& operator=(const TaskbarProgress&) = delete;

    void Show(int done, int total);
    // The rest of the batch is shown as having had a failure.
    void Failed();

private:
    HWND button_;
    corvane::ComPtr<ITaskbarList3> taskbar_;
    bool failed_ = false;
};

}  // namespace vellumo

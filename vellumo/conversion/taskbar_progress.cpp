#include "taskbar_progress.h"

namespace vellumo {

TaskbarProgress::TaskbarProgress(HWND button) : button_(button)
{
    if (FAILED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3,
                                taskbar_.PutVoid())) ||
        FAILED(taskbar_->HrInit()))
        taskbar_ = nullptr;
}

TaskbarProgress::~TaskbarProgress()
{
    if (taskbar_) taskbar_->SetProgressState(button_, TBPF_NOPROGRESS);
}

void TaskbarProgress::Show(int done, int total)
{
    if (!taskbar_ || total <= 0) return;
    taskbar_->SetProgressState(button_, failed_ ? TBPF_ERROR : TBPF_NORMAL);
    taskbar_->SetProgressValue(button_, static_cast<ULONGLONG>(done), static_cast<ULONGLONG>(total));
}

void TaskbarProgress::Failed()
{
    failed_ = true;
    if (taskbar_) taskbar_->SetProgressState(button_, TBPF_ERROR);
}

}  // namespace vellumo

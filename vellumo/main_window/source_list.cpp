#include "source_list.h"

namespace vellumo {

int SourceList::Count() const
{
    const LRESULT count = SendMessageW(list_, LB_GETCOUNT, 0, 0);
    return count == LB_ERR ? 0 : static_cast<int>(count);
}

std::wstring SourceList::At(int index) const
{
    const LRESULT length = SendMessageW(list_, LB_GETTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length == LB_ERR) return std::wstring();
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const LRESULT n = SendMessageW(list_, LB_GETTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
    text.resize(n == LB_ERR ? 0 : static_cast<std::size_t>(n));
    return text;
}

std::wstring SourceList::OriginAt(int index) const
{
    const LRESULT id = SendMessageW(list_, LB_GETITEMDATA, static_cast<WPARAM>(index), 0);
    if (id == LB_ERR || id <= 0 || static_cast<std::size_t>(id) > origins_.size()) return std::wstring();
    return origins_[static_cast<std::size_t>(id) - 1];
}

bool SourceList::DeleteSelected()
{
    const LRESULT selected = SendMessageW(list_, LB_GETCURSEL, 0, 0);
    if (selected == LB_ERR) return false;
    SendMessageW(list_, LB_DELETESTRING, static_cast<WPARAM>(selected), 0);
    const int count = Count();
    if (count > 0) {
        const int next = static_cast<int>(selected) < count ? static_cast<int>(selected) : count - 1;
        SendMessageW(list_, LB_SETCURSEL, static_cast<WPARAM>(next), 0);
    }
    return true;
}

LPARAM SourceList::OriginId(const std::wstring& origin)
{
    for (std::size_t i = origins_.size(); i > 0; --i) {
        if (origins_[i - 1] == origin) return static_cast<LPARAM>(i);
    }
    origins_.push_back(origin);
    return static_cast<LPARAM>(origins_.size());
}

SourceList::Adding::Adding(SourceList& list) : list_(list)
{
    const int count = list_.Count();
    listed_.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) listed_.insert(list_.At(i));
    SendMessageW(list_.list_, WM_SETREDRAW, FALSE, 0);
}

SourceList::Adding::~Adding()
{
    SendMessageW(list_.list_, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list_.list_, nullptr, TRUE);
}

void SourceList::Adding::AddIfNew(const std::wstring& path, const std::wstring& origin)
{
    if (!listed_.insert(path).second) return;
    const LRESULT at = SendMessageW(list_.list_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(path.c_str()));
    if (at < 0) {
        listed_.erase(path);
        return;
    }
    if (!origin.empty()) SendMessageW(list_.list_, LB_SETITEMDATA, static_cast<WPARAM>(at), list_.OriginId(origin));
}

}  // namespace vellumo

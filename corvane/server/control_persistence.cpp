// AtlHalvexControl: the persisted extent (IPersistStreamInit, IPersistStorage).
#include "control.h"

namespace corvane::server {
namespace {

const wchar_t ContentsStream[] = L"Contents";

}  // namespace

// --- persistence ---------------------------------------------------------------

STDMETHODIMP AtlHalvexControl::GetClassID(CLSID* clsid)
{
    if (!clsid) return E_POINTER;
    *clsid = CLSID_AtlHalvex;
    return S_OK;
}

STDMETHODIMP AtlHalvexControl::IsDirty()
{
    return needsSaving_ ? S_OK : S_FALSE;
}

HRESULT AtlHalvexControl::ReadStream(IStream* stream)
{
    if (!stream) return E_POINTER;
    DWORD fields[3] = {};
    for (DWORD& field : fields) {
        ULONG read = 0;
        HRESULT hr = stream->Read(&field, sizeof field, &read);
        if (FAILED(hr)) return hr;
        // A stream that ends inside the record is as unreadable as a failing one.
        if (read != sizeof field) return STG_E_READFAULT;
        if (&field == &fields[0] && field > StreamVersion) return E_FAIL;
    }
    extent_.cx = static_cast<LONG>(fields[1]);
    extent_.cy = static_cast<LONG>(fields[2]);
    needsSaving_ = false;
    ViewChanged();
    return S_OK;
}

STDMETHODIMP AtlHalvexControl::Load(LPSTREAM stream)
{
    return ReadStream(stream);
}

STDMETHODIMP AtlHalvexControl::Save(LPSTREAM stream, BOOL)
{
    if (!stream) return E_POINTER;
    const DWORD fields[3] = {StreamVersion, static_cast<DWORD>(extent_.cx), static_cast<DWORD>(extent_.cy)};
    ULONG written = 0;
    HRESULT hr = stream->Write(fields, sizeof fields, &written);
    if (FAILED(hr)) return hr;
    return written == sizeof fields ? S_OK : STG_E_WRITEFAULT;
}

STDMETHODIMP AtlHalvexControl::GetSizeMax(ULARGE_INTEGER* size)
{
    if (!size) return E_POINTER;
    size->QuadPart = 3 * sizeof(DWORD);
    return S_OK;
}

STDMETHODIMP AtlHalvexControl::InitNew()
{
    needsSaving_ = true;
    return S_OK;
}

STDMETHODIMP AtlHalvexControl::InitNew(IStorage*)
{
    needsSaving_ = true;
    return S_OK;
}

STDMETHODIMP AtlHalvexControl::Load(IStorage* storage)
{
    if (!storage) return E_POINTER;
    ComPtr<IStream> stream;
    HRESULT hr = storage->OpenStream(ContentsStream, nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, stream.Put());
    if (FAILED(hr)) return hr;
    return ReadStream(stream.Get());
}

STDMETHODIMP AtlHalvexControl::Save(IStorage* storage, BOOL)
{
    if (!storage) return E_POINTER;
    ComPtr<IStream> stream;
    HRESULT hr = storage->CreateStream(ContentsStream, STGM_WRITE | STGM_SHARE_EXCLUSIVE | STGM_CREATE, 0, 0,
                                       stream.Put());
    if (FAILED(hr)) return hr;
    return Save(stream.Get(), FALSE);
}

STDMETHODIMP AtlHalvexControl::SaveCompleted(IStorage*)
{
    return S_OK;
}

STDMETHODIMP AtlHalvexControl::HandsOffStorage()
{
    return S_OK;
}

}  // namespace corvane::server

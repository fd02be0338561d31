#include "module.h"

#include <atomic>

#include "single_interface.h"

namespace vellumo::filters {

namespace {

std::atomic<long> g_moduleRefs{0};
HMODULE g_module = nullptr;

std::vector<const FilterClass*>& MutableClasses()
{
    static std::vector<const FilterClass*> classes;
    return classes;
}

class ClassFactory final : public corvane::SingleInterface<IClassFactory> {
public:
    explicit ClassFactory(const FilterClass& cls) : cls_(cls) { ModuleAddRef(); }
    ~ClassFactory() override { ModuleRelease(); }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override
    {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        return cls_.create(iid, out);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override
    {
        if (lock) ModuleAddRef();
        else ModuleRelease();
        return S_OK;
    }

private:
    const FilterClass& cls_;
};

}  // namespace

void ModuleAddRef() noexcept { ++g_moduleRefs; }
void ModuleRelease() noexcept { --g_moduleRefs; }
long ModuleRefCount() noexcept { return g_moduleRefs.load(); }
HMODULE ModuleHandle() noexcept { return g_module ? g_module : GetModuleHandleW(nullptr); }
void SetModuleHandle(HMODULE module) noexcept { g_module = module; }

const std::vector<const FilterClass*>& FilterClasses() { return MutableClasses(); }

const FilterClass* FindFilterClass(REFCLSID clsid)
{
    for (const FilterClass* cls : MutableClasses())
        if (*cls->clsid == clsid) return cls;
    return nullptr;
}

FilterClassEntry::FilterClassEntry(const FilterClass& cls) { MutableClasses().push_back(&cls); }

namespace {
std::vector<const MediaSignature*>& MutableSignatures()
{
    static std::vector<const MediaSignature*> signatures;
    return signatures;
}
}  // namespace

const std::vector<const MediaSignature*>& MediaSignatures() { return MutableSignatures(); }

MediaSignatureEntry::MediaSignatureEntry(const MediaSignature& signature) { MutableSignatures().push_back(&signature); }

HRESULT GetClassFactory(REFCLSID clsid, REFIID iid, void** out)
{
    if (!out) return E_POINTER;
    *out = nullptr;
    const FilterClass* cls = FindFilterClass(clsid);
    if (!cls) return CLASS_E_CLASSNOTAVAILABLE;
    auto* factory = new (std::nothrow) ClassFactory(*cls);
    if (!factory) return E_OUTOFMEMORY;
    HRESULT hr = factory->QueryInterface(iid, out);
    factory->Release();
    return hr;
}

}  // namespace vellumo::filters

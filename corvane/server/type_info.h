// TypeInfoHolder: one type description of the registered corvaneLib,
// loaded on first use.
#pragma once

#include <oaidl.h>

#include "com_ptr.h"

namespace corvane::server {

class TypeInfoHolder {
public:
    explicit TypeInfoHolder(const GUID& guid) : guid_(guid) {}
    // The type description, from the library registered for LIBID version 1.0.
    HRESULT Get(LCID lcid, ITypeInfo** out);
    ITypeInfo* Peek(LCID lcid);

private:
    const GUID& guid_;
    ComPtr<ITypeInfo> info_;
};

}  // namespace corvane::server

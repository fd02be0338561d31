// Registrar: runs a registration script against the registry.
//
// Script form: a root key (HKCR, HKCU, HKLM, HKU or their long names)
// followed by a braced list of keys. A key is
//     [NoRemove | ForceRemove | Delete] name [= s 'text' | = d 'number'] [{ ... }]
// and a named value inside a key's braces is
//     val name = s 'text'   (or d 'number')
// Names and texts may be quoted with single quotes ('' stands for one quote);
// unquoted tokens end at white space. %NAME% is replaced by the value given
// for NAME before the script is read ("%%" is a plain percent sign).
//
// Registering creates every key and writes every value; a ForceRemove key
// is deleted with all its subkeys first, a Delete key is only deleted.
// Removing deletes the script's named values and keys: a NoRemove key stays
// (its entries are still processed); any other key is deleted once the
// script's own entries below it are gone; a key that still has foreign
// subkeys is deleted with them unless its name is a reserved one (AppID,
// CLSID, Component Categories, FileType, Interface, Hardware, Mime, SAM,
// SECURITY, SYSTEM, Software, TypeLib), which stays.
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

namespace corvane::server {

class Registrar {
public:
    void AddReplacement(std::wstring name, std::wstring value);

    HRESULT Register(const std::wstring& script) const { return Run(script, true); }
    HRESULT Unregister(const std::wstring& script) const { return Run(script, false); }

    // Runs a script stored as a "REGISTRY" resource (ASCII or UTF-8 text).
    HRESULT RunResource(HMODULE module, UINT id, bool registering) const;

    // Expands the %NAME% replacements (exposed for tests of the scripts).
    HRESULT Expand(const std::wstring& script, std::wstring& out) const;

private:
    HRESULT Run(const std::wstring& script, bool registering) const;
    std::vector<std::pair<std::wstring, std::wstring>> replacements_;
};

}  // namespace corvane::server

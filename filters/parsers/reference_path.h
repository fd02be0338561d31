// Where a reference file (.ram) may lead: only to files on the user's own
// disks. A downloaded .ram is someone else's text, and opening what it names
// can make Windows authenticate to a remote server, connect to a pipe whose
// server then acts as the user, or read from a device.
#pragma once

#include <string>

namespace vellumo::realmedia {

// The full path an entry of a reference file leads to, or empty when the
// entry is refused. ramFolder is the folder the reference file lives in
// (empty when unknown).
//
// Followed: drive paths ("C:\x.rm"); relative entries ("x.rm", "..\x.rm",
// "\x.rm" from the root of the reference file's own drive or share), taken
// against ramFolder; UNC paths ("\\host\share\x.rm") only when the reference
// file itself lives on that same share. Refused: every other UNC path
// (WebDAV "\\host@SSL@443\..." too), the device and object namespaces
// ("\\?\", "\\.\", "\??\"), device names (CON, NUL, COM1, LPT1 ...) in any
// part of the path, drive-relative paths ("C:x.rm"), alternate streams,
// wildcards and control characters, and relative entries when ramFolder is
// unknown or is not itself a drive or UNC folder. "." and ".." parts are
// resolved, never above the drive or share.
std::wstring ResolveReference(const std::wstring& entry, const std::wstring& ramFolder);

}  // namespace vellumo::realmedia

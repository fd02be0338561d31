// The program's version, read from its version resource.
#pragma once

#include <string>

namespace vellumo {

struct ProgramVersion {
    unsigned major = 0;
    unsigned minor = 0;
    unsigned revision = 0;
};

// Major, minor and revision of the running program's file version
// (FILEVERSION major,minor,revision,0).
ProgramVersion ReadProgramVersion();
// Major, ".", minor and the revision written straight behind the minor
// number: 2.0.0 gives "2.00", 1.2.3 gives "1.23".
std::wstring VersionText(const ProgramVersion& version);

}  // namespace vellumo

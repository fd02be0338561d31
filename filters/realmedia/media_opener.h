// Opening what the user picked: a RealMedia file directly, or the first local
// RealMedia file that a reference file (.ram) lists.
#pragma once

#include "byte_source.h"
#include "rm_demuxer.h"

#include <functional>
#include <memory>
#include <string>

namespace vellumo::realmedia {

// Opens a file named by a reference file (FileByteSource::Open for the
// platform's files); null when it cannot be opened.
using FileOpener = std::function<std::unique_ptr<ByteSource>(const std::wstring& path)>;

// Null when the bytes are neither RealMedia nor a reference file that lists a
// local RealMedia file (a reference file naming only network streams, or
// files that do not exist, opens nothing). Reference files listing reference
// files are followed a few levels deep; one resolution opens at most a
// handful of files in all and reads none of them twice, however many names
// lead to it. Without an opener, a reference file opens nothing.
std::unique_ptr<RmDemuxer> OpenRealMedia(std::unique_ptr<ByteSource> source, const FileOpener& opener = {});

}  // namespace vellumo::realmedia

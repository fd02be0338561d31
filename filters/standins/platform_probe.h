// Probes of the platform's own system filters, run at registration: the pack
// registers a stand-in under a system class identifier only where the
// platform's filter does not show the behaviour the converter relies on.
#pragma once

namespace vellumo::filters {

// The ACM wrapper takes 16-bit PCM from an upstream pin and its output pin
// offers IAMStreamConfig whose GetFormat/SetFormat work on a WAVEFORMATEX.
bool SystemAcmWrapperWorks();
// The File Writer offers IFileSinkFilter2, and GetCurFile succeeds before a
// name is set and returns the name once set.
bool SystemFileWriterWorks();

}  // namespace vellumo::filters

// Probes of the platform's own system filters, run at registration: the pack
// registers a stand-in under a system class identifier only where the
// platform's filter does not show the behaviour the converter relies on.
#pragma once

namespace vellumo::filters {

// The ACM wrapper takes 16-bit PCM from an upstream pin and its output pin
// offers IAMStreamConfig whose GetFormat/SetFormat work on a WAVEFORMATEX.
bool SystemAcmWrapperWorks();
// The File Writer offers IFileSinkFilter2, GetCurFile succeeds before a name
// is set and returns the name once set, and the duration asked of it (as a
// renderer) reaches the pin upstream.
bool SystemFileWriterWorks();

}  // namespace vellumo::filters

// Checks of a filter under the platform's ACM Wrapper and File Writer class
// identifiers for the behaviour the converter relies on. Registration does
// not use them (a check can fail for reasons of its own, such as a long
// temporary path); the stand-ins' tests do.
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

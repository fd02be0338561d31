// What the WAV writer puts around the audio: the RIFF/WAVE header with the
// format chunk, and the LIST/INFO chunk with the source's tags. The format
// block comes from whichever filter feeds the writer (ours or another
// vendor's) and the tags from the source file, so both are read as untrusted
// bytes: a format block shorter than the WAVEFORMATEX it claims to be is
// refused, never read past.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vellumo::wave {

// The body of the "fmt " chunk for a WAVEFORMATEX block of `size` bytes: the
// 16 bytes of PCMWAVEFORMAT for plain PCM, else the WAVEFORMATEX with its
// cbSize extra bytes. Empty when the block is shorter than 18 bytes or than
// its cbSize says.
std::vector<uint8_t> FormatChunkBody(const uint8_t* format, size_t size);

// "RIFF" <size> "WAVE", the format chunk (padded to an even size) and the
// data chunk's header, for dataBytes of audio followed by a pad byte when
// that is odd and trailerBytes of further chunks. A size that would pass
// 4 GiB is clamped so that every size field still holds it.
std::vector<uint8_t> RiffHeader(const std::vector<uint8_t>& formatBody, uint64_t dataBytes, uint64_t trailerBytes);

// The largest size a RIFF size field holds.
constexpr uint64_t kRiffSizeLimit = 0xFFFFFFFFull;
// The RIFF size of a file with this audio and trailer (RiffHeader's layout).
uint64_t RiffSize(const std::vector<uint8_t>& formatBody, uint64_t dataBytes, uint64_t trailerBytes);

// The 64-bit form (RF64, EBU Tech 3306) for audio a RIFF header cannot
// describe: "RF64" and "data" sizes of 0xFFFFFFFF, the real sizes (and the
// frame count) in a ds64 chunk right after "WAVE".
std::vector<uint8_t> Rf64Header(const std::vector<uint8_t>& formatBody, uint64_t dataBytes, uint64_t trailerBytes);

// UTF-8 texts for the INFO chunk.
struct InfoTexts {
    std::string title, artist, copyright, comment;
};

// LIST/INFO with INAM, IART, ICOP and ICMT, each text NUL-terminated and each
// sub-chunk padded to an even size. Empty when every text is.
//
// RIFF leaves INFO text in an unstated code page (CSET chunks that would
// state one are read by almost nothing); writing the ANSI code page of
// whoever converts would lose every character outside it and make the file
// read differently on a machine with another code page. UTF-8 keeps every
// character, is what FFmpeg, foobar2000 and other current tools write and
// read, and is plain ASCII for ASCII text.
std::vector<uint8_t> InfoChunk(const InfoTexts& texts);

}  // namespace vellumo::wave

// The title, author, copyright and comment a RealMedia file carries: the CONT
// chunk of a .RMF file, or the header of an old bare RealAudio file (".ra\xfd"
// versions 3 and 4). Plain byte parsing of untrusted input: every length is
// checked against the chunk or header that holds it, and a field that would
// reach past it makes the whole block count as damaged (no tags), never read.
// The text comes out as the file's bytes; it has no declared encoding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vellumo::realmedia {

struct RawTags {
    std::string title, author, copyright, comment;
    bool Empty() const { return title.empty() && author.empty() && copyright.empty() && comment.empty(); }
};

// Where a chunk sits in the file.
struct ChunkPlace {
    uint64_t offset = 0;
    uint32_t size = 0;  // the chunk's own size field: header included
};

// Walks the top-level chunks of a .RMF file from its first bytes (head) and
// finds the CONT chunk. False when the file is not .RMF, has no CONT chunk
// before its data, or the chunk headers leave head before one is found.
bool FindContentChunk(const uint8_t* head, size_t size, ChunkPlace& place);

// One CONT chunk, from its tag on; size is what is at hand of it. The
// chunk's own size field bounds the fields. False when it is not a CONT
// chunk of version 0 or a field reaches past the chunk or past size.
bool ParseContentChunk(const uint8_t* chunk, size_t size, RawTags& tags);

// The header of a bare RealAudio file, versions 3 and 4, from its first
// bytes. False when the bytes are not one or a field reaches past the header
// the file declares (or past size).
bool ParseRealAudioTags(const uint8_t* head, size_t size, RawTags& tags);

// The tags of a file from its first bytes, whichever kind it is (a CONT
// chunk found in head is read only when it lies wholly inside head).
bool ParseFileTags(const uint8_t* head, size_t size, RawTags& tags);

// True when the bytes are well-formed UTF-8 (no overlong forms, surrogates
// or code points past U+10FFFF).
bool IsValidUtf8(const std::string& bytes);

}  // namespace vellumo::realmedia

// A file's whole way through the pack before COM: opened (every entry of a .ram
// is the input itself), demuxed, set up through the media type's format block,
// decoded to the end, then sought back into the middle.
#include "audio_decoder.h"
#include "media_opener.h"

using namespace vellumo::realmedia;
volatile int16_t g_heard;  // the last sample of every piece is read

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::vector<uint8_t> bytes(data, data + size);
    auto demuxer = OpenRealMedia(std::make_unique<MemoryByteSource>(bytes, L"C:\\fuzz\\input.rm"),
                                 [&](const std::wstring& path) { return std::make_unique<MemoryByteSource>(bytes, path); });
    const int audio = demuxer ? demuxer->AudioStream() : -1;
    if (audio < 0) return 0;
    const AudioCodecSetup& found = demuxer->Streams()[static_cast<size_t>(audio)].audio;
    const std::vector<uint8_t> block = WaveFormatBlock(found);
    AudioCodecSetup setup;
    AudioDecoder decoder;
    const bool decoding = ParseWaveFormatBlock(block.data(), block.size(), found.fourcc, setup) && decoder.Open(setup);
    const PcmSink sink = [&](const int16_t* pcm, size_t n) { return !n || (g_heard = pcm[n * setup.channels - 1], true); };
    auto readAll = [&](int most) {
        MediaPacket p;
        for (int i = 0; i < most && demuxer->Read(p) == RmDemuxer::ReadStatus::Packet; ++i)
            if (decoding && p.stream == audio) decoder.Decode(p.data.data(), p.data.size(), sink);
    };
    readAll(100000);
    if (decoding) decoder.Drain(sink);
    if (demuxer->Seek(demuxer->Duration() / 2)) decoder.Reset(), readAll(64);
    return 0;
}

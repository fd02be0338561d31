// The whole path a file takes through the pack before any COM: opened as
// RealMedia or followed as a reference file, demuxed, its audio set up
// through the media type's format block and decoded, read to the end, then
// sought back into the middle and read again.
#include "audio_decoder.h"
#include "media_opener.h"

using namespace vellumo::realmedia;

volatile int64_t g_heard;  // keeps the sound from being optimised away

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::vector<uint8_t> bytes(data, data + size);
    // Every file a reference file names is the input itself.
    const FileOpener opener = [&](const std::wstring& path) -> std::unique_ptr<ByteSource> {
        return std::make_unique<MemoryByteSource>(bytes, path);
    };
    auto demuxer = OpenRealMedia(std::make_unique<MemoryByteSource>(bytes, L"C:\\fuzz\\input.rm"), opener);
    if (!demuxer) return 0;
    const int audio = demuxer->AudioStream();
    AudioDecoder decoder;
    bool decoding = false;
    if (audio >= 0) {
        const AudioCodecSetup& found = demuxer->Streams()[static_cast<size_t>(audio)].audio;
        const std::vector<uint8_t> block = WaveFormatBlock(found);
        AudioCodecSetup setup;
        decoding = ParseWaveFormatBlock(block.data(), block.size(), found.fourcc, setup) && decoder.Open(setup);
    }
    int64_t sum = 0;
    const PcmSink sink = [&](const int16_t* samples, size_t n) {
        if (n) sum += samples[0] + samples[n * static_cast<size_t>(decoder.Channels()) - 1];  // all of it is there
        return true;
    };
    auto readAll = [&](int most) {
        MediaPacket packet;
        for (int i = 0; i < most && demuxer->Read(packet) == RmDemuxer::ReadStatus::Packet; ++i) {
            if (decoding && packet.stream == audio) decoder.Decode(packet.data.data(), packet.data.size(), sink);
        }
    };
    readAll(100000);
    if (decoding) decoder.Drain(sink);
    if (demuxer->Seek(demuxer->Duration() / 2)) {
        decoder.Reset();
        readAll(64);
    }
    g_heard = sum;
    return 0;
}

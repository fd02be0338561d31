// The cross-built FFmpeg and LAME link into a Windows program and work.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
#include <lame/lame.h>
}

namespace {

TEST(CodecLibraries, FfmpegHasTheRealMediaDemuxerAndEveryRealAudioDecoder)
{
    EXPECT_NE(nullptr, av_find_input_format("rm"));
    for (AVCodecID id : {AV_CODEC_ID_COOK, AV_CODEC_ID_SIPR, AV_CODEC_ID_RA_144, AV_CODEC_ID_RA_288,
                         AV_CODEC_ID_ATRAC3, AV_CODEC_ID_AAC, AV_CODEC_ID_AC3, AV_CODEC_ID_RALF}) {
        EXPECT_NE(nullptr, avcodec_find_decoder(id)) << avcodec_get_name(id);
    }
}

// One second of a 440 Hz sine, float planar stereo, through libswresample to
// 16-bit interleaved, then through LAME at a constant 128 kbit/s, in memory.
TEST(CodecLibraries, EncodeOneSecondOfSineToMp3InMemory)
{
    constexpr int kRate = 44100;
    std::vector<float> left(kRate), right(kRate);
    for (int i = 0; i < kRate; ++i) {
        left[i] = right[i] = 0.5f * static_cast<float>(std::sin(2.0 * M_PI * 440.0 * i / kRate));
    }

    SwrContext* swr = nullptr;
    AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    ASSERT_EQ(0, swr_alloc_set_opts2(&swr, &stereo, AV_SAMPLE_FMT_S16, kRate, &stereo, AV_SAMPLE_FMT_FLTP, kRate,
                                     0, nullptr));
    ASSERT_EQ(0, swr_init(swr));
    std::vector<int16_t> pcm(2 * kRate);
    const uint8_t* in[2] = {reinterpret_cast<const uint8_t*>(left.data()),
                            reinterpret_cast<const uint8_t*>(right.data())};
    uint8_t* out[1] = {reinterpret_cast<uint8_t*>(pcm.data())};
    int converted = swr_convert(swr, out, kRate, in, kRate);
    swr_free(&swr);
    ASSERT_EQ(kRate, converted);
    EXPECT_NEAR(0.5 * 32767 * std::sin(2.0 * M_PI * 440.0 * 10 / kRate), pcm[20], 2.0);

    lame_global_flags* lame = lame_init();
    ASSERT_NE(nullptr, lame);
    lame_set_in_samplerate(lame, kRate);
    lame_set_num_channels(lame, 2);
    lame_set_brate(lame, 128);
    lame_set_VBR(lame, vbr_off);
    ASSERT_EQ(0, lame_init_params(lame));

    std::vector<unsigned char> mp3(kRate * 2);
    int n = lame_encode_buffer_interleaved(lame, pcm.data(), kRate, mp3.data(), static_cast<int>(mp3.size()));
    ASSERT_GE(n, 0);
    int m = lame_encode_flush(lame, mp3.data() + n, static_cast<int>(mp3.size()) - n);
    ASSERT_GE(m, 0);
    lame_close(lame);
    mp3.resize(static_cast<size_t>(n + m));

    // About 16,000 bytes for one second at 128 kbit/s.
    EXPECT_GT(mp3.size(), 15000u);
    EXPECT_LT(mp3.size(), 19000u);
    // First frame header: sync, MPEG-1 layer III, 128 kbit/s, 44.1 kHz, joint stereo or stereo.
    ASSERT_GE(mp3.size(), 4u);
    EXPECT_EQ(0xFF, mp3[0]);
    EXPECT_EQ(0xE0, mp3[1] & 0xE0);
    EXPECT_EQ(0x18, mp3[1] & 0x18) << "MPEG-1";
    EXPECT_EQ(0x02, mp3[1] & 0x06) << "layer III";
    EXPECT_EQ(9, mp3[2] >> 4) << "128 kbit/s";
    EXPECT_EQ(0, (mp3[2] >> 2) & 3) << "44100 Hz";
    EXPECT_NE(3, mp3[3] >> 6) << "not mono";
}

}  // namespace

// The cross-built FFmpeg has every RealAudio decoder the splitter's codec
// table names: the sample files exercise only some of them.
#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
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

}  // namespace

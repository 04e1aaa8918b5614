// WM8EUTIL: encodes an audio file into WMA (Windows Media Audio 2 in an ASF file) with FFmpeg's
// libraries. The command-line contract the program relies on:
//
//   WM8EUTIL -input FILE -output FILE -a_setting B_R_C [-author TEXT] [-description TEXT]
//
// B: bit rate in kbit/s; R: sample rate in kHz rounded down (48, 44 = 44100, 32, 22 = 22050,
// 16, 11 = 11025, 8); C: channels (1 or 2). While it works it prints "NN%" lines, "100%" when
// done; any failure prints a line containing "ERROR" with the reason and exits with status 1.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// FFmpeg's wmav2 encoder refuses less than this.
constexpr int MinimumBitRate = 24000;

[[noreturn]] void Fail(const std::string& reason)
{
    std::printf("ERROR: %s\n", reason.c_str());
    std::fflush(stdout);
    std::exit(1);
}

std::string AvError(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

void Usage()
{
    std::printf(
        "WM8EUTIL -input FILE -output FILE -a_setting B_R_C [-author TEXT] [-description TEXT]\n"
        "\n"
        "Encodes FILE (a WAV file, or anything FFmpeg reads) into Windows Media Audio 2 in an ASF\n"
        "file. B_R_C is the profile: B the bit rate in kbit/s, R the sample rate in kHz rounded\n"
        "down (48, 44 for 44100, 32, 22 for 22050, 16, 11 for 11025, 8), C the channels (1 or 2),\n"
        "as in 64_44_2. The audio is resampled and remixed to the profile. -author and -description\n"
        "are written as the file's author and description.\n"
        "\n"
        "Progress is printed as lines \"NN%%\", and \"100%%\" when the file is complete. A failure\n"
        "prints a line containing ERROR with the reason and exits with status 1.\n"
        "\n"
        "The WMA 2 encoder needs at least 24 kbit/s: a profile below that is encoded at 24 kbit/s\n"
        "with its own rate and channels, and a line says so.\n");
}

int RateOf(int khz)
{
    switch (khz) {
    case 44: return 44100;
    case 22: return 22050;
    case 11: return 11025;
    default: return khz * 1000;
    }
}

struct Setting {
    int BitRate, SampleRate, Channels;
};

Setting ParseSetting(const std::string& text)
{
    int b = 0, r = 0, c = 0;
    char tail = 0;
    if (std::sscanf(text.c_str(), "%d_%d_%d%c", &b, &r, &c, &tail) != 3 || b <= 0 || r <= 0 || (c != 1 && c != 2))
        Fail("the setting \"" + text + "\" is not B_R_C (kbit/s, kHz, channels 1 or 2)");
    return {b * 1000, RateOf(r), c};
}

}  // namespace

int main(int argc, char** argv)
{
    std::string input, output, setting, author, description;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const auto value = [&](std::string& into) {
            if (i + 1 >= argc)
                Fail("the option " + a + " needs a value");
            into = argv[++i];
        };
        if (a == "--help" || a == "-help" || a == "-h") {
            Usage();
            return 0;
        } else if (a == "-input") {
            value(input);
        } else if (a == "-output") {
            value(output);
        } else if (a == "-a_setting") {
            value(setting);
        } else if (a == "-author") {
            value(author);
        } else if (a == "-description") {
            value(description);
        } else {
            Fail("unknown option " + a + " (WM8EUTIL --help tells the options)");
        }
    }
    if (input.empty() || output.empty() || setting.empty())
        Fail("-input, -output and -a_setting are needed (WM8EUTIL --help tells the options)");
    Setting want = ParseSetting(setting);
    av_log_set_level(AV_LOG_QUIET);

    // The input.
    AVFormatContext* in = nullptr;
    int rc = avformat_open_input(&in, input.c_str(), nullptr, nullptr);
    if (rc < 0)
        Fail("cannot open " + input + ": " + AvError(rc));
    if ((rc = avformat_find_stream_info(in, nullptr)) < 0)
        Fail("cannot read " + input + ": " + AvError(rc));
    const AVCodec* decoderCodec = nullptr;
    const int streamIndex = av_find_best_stream(in, AVMEDIA_TYPE_AUDIO, -1, -1, &decoderCodec, 0);
    if (streamIndex < 0 || !decoderCodec)
        Fail(input + " holds no audio this program can read");
    AVStream* inStream = in->streams[streamIndex];
    AVCodecContext* decoder = avcodec_alloc_context3(decoderCodec);
    avcodec_parameters_to_context(decoder, inStream->codecpar);
    if ((rc = avcodec_open2(decoder, decoderCodec, nullptr)) < 0)
        Fail("cannot decode " + input + ": " + AvError(rc));
    if (decoder->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
        av_channel_layout_default(&decoder->ch_layout, decoder->ch_layout.nb_channels);

    // The encoder.
    const AVCodec* encoderCodec = avcodec_find_encoder(AV_CODEC_ID_WMAV2);
    if (!encoderCodec)
        Fail("this FFmpeg has no WMA 2 encoder");
    if (want.BitRate < MinimumBitRate) {
        std::printf("The WMA 2 encoder needs at least %d kbit/s: encoding at %d kbit/s instead of %d.\n",
                    MinimumBitRate / 1000, MinimumBitRate / 1000, want.BitRate / 1000);
        want.BitRate = MinimumBitRate;
    }
    AVCodecContext* encoder = avcodec_alloc_context3(encoderCodec);
    encoder->sample_rate = want.SampleRate;
    av_channel_layout_default(&encoder->ch_layout, want.Channels);
    encoder->sample_fmt = AV_SAMPLE_FMT_FLTP;
    encoder->bit_rate = want.BitRate;
    encoder->time_base = AVRational{1, want.SampleRate};

    AVFormatContext* out = nullptr;
    if ((rc = avformat_alloc_output_context2(&out, nullptr, "asf", output.c_str())) < 0 || !out)
        Fail("cannot make an ASF file: " + AvError(rc));
    if (out->oformat->flags & AVFMT_GLOBALHEADER)
        encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if ((rc = avcodec_open2(encoder, encoderCodec, nullptr)) < 0)
        Fail("the WMA 2 encoder refuses " + setting + ": " + AvError(rc));
    AVStream* outStream = avformat_new_stream(out, nullptr);
    avcodec_parameters_from_context(outStream->codecpar, encoder);
    outStream->time_base = encoder->time_base;
    if (!author.empty())
        av_dict_set(&out->metadata, "author", author.c_str(), 0);
    if (!description.empty())
        av_dict_set(&out->metadata, "comment", description.c_str(), 0);
    if ((rc = avio_open(&out->pb, output.c_str(), AVIO_FLAG_WRITE)) < 0)
        Fail("cannot write " + output + ": " + AvError(rc));
    if ((rc = avformat_write_header(out, nullptr)) < 0)
        Fail("cannot write " + output + ": " + AvError(rc));

    SwrContext* resampler = nullptr;
    if ((rc = swr_alloc_set_opts2(&resampler, &encoder->ch_layout, encoder->sample_fmt, encoder->sample_rate,
                                  &decoder->ch_layout, decoder->sample_fmt, decoder->sample_rate, 0, nullptr)) < 0 ||
        (rc = swr_init(resampler)) < 0)
        Fail("cannot convert the audio to the profile: " + AvError(rc));

    AVAudioFifo* fifo = av_audio_fifo_alloc(encoder->sample_fmt, want.Channels, 1);
    AVPacket* packet = av_packet_alloc();
    AVFrame* decoded = av_frame_alloc();
    int64_t nextPts = 0;
    const int frameSize = encoder->frame_size > 0 ? encoder->frame_size : 2048;

    const auto writePackets = [&] {
        AVPacket* encoded = av_packet_alloc();
        while ((rc = avcodec_receive_packet(encoder, encoded)) == 0) {
            av_packet_rescale_ts(encoded, encoder->time_base, outStream->time_base);
            encoded->stream_index = outStream->index;
            if ((rc = av_interleaved_write_frame(out, encoded)) < 0)
                Fail("cannot write " + output + ": " + AvError(rc));
        }
        av_packet_free(&encoded);
    };
    // Sends the FIFO's samples in whole frames; at the end the last frame is padded with silence.
    const auto encodeFifo = [&](bool last) {
        while (av_audio_fifo_size(fifo) >= frameSize || (last && av_audio_fifo_size(fifo) > 0)) {
            AVFrame* frame = av_frame_alloc();
            frame->nb_samples = frameSize;
            av_channel_layout_copy(&frame->ch_layout, &encoder->ch_layout);
            frame->format = encoder->sample_fmt;
            frame->sample_rate = encoder->sample_rate;
            av_frame_get_buffer(frame, 0);
            av_samples_set_silence(frame->extended_data, 0, frameSize, want.Channels, encoder->sample_fmt);
            av_audio_fifo_read(fifo, reinterpret_cast<void**>(frame->extended_data), frameSize);
            frame->pts = nextPts;
            nextPts += frameSize;
            if ((rc = avcodec_send_frame(encoder, frame)) < 0)
                Fail("the WMA 2 encoder failed: " + AvError(rc));
            av_frame_free(&frame);
            writePackets();
        }
    };
    const auto convert = [&](const uint8_t** data, int count) {
        const int room = swr_get_out_samples(resampler, count);
        uint8_t** buffer = nullptr;
        av_samples_alloc_array_and_samples(&buffer, nullptr, want.Channels, room > 0 ? room : 1, encoder->sample_fmt, 0);
        const int made = swr_convert(resampler, buffer, room, data, count);
        if (made < 0)
            Fail("cannot convert the audio: " + AvError(made));
        av_audio_fifo_write(fifo, reinterpret_cast<void**>(buffer), made);
        av_freep(&buffer[0]);
        av_freep(&buffer);
        encodeFifo(false);
    };

    const double duration = in->duration > 0 ? in->duration / double(AV_TIME_BASE) : 0;
    int shown = -1;
    const auto progress = [&](int percent) {
        if (percent > shown) {
            shown = percent;
            std::printf("%d%%\n", percent);
            std::fflush(stdout);
        }
    };
    progress(0);
    while ((rc = av_read_frame(in, packet)) >= 0) {
        if (packet->stream_index == streamIndex) {
            if ((rc = avcodec_send_packet(decoder, packet)) < 0)
                Fail("cannot decode " + input + ": " + AvError(rc));
            while (avcodec_receive_frame(decoder, decoded) == 0) {
                convert(const_cast<const uint8_t**>(decoded->extended_data), decoded->nb_samples);
                if (duration > 0 && decoded->pts != AV_NOPTS_VALUE) {
                    const double at = decoded->pts * av_q2d(inStream->time_base);
                    const int percent = static_cast<int>(at * 100 / duration);
                    if (percent < 100)
                        progress(percent);
                }
            }
        }
        av_packet_unref(packet);
    }
    if (rc != AVERROR_EOF)
        Fail("cannot read " + input + ": " + AvError(rc));
    avcodec_send_packet(decoder, nullptr);
    while (avcodec_receive_frame(decoder, decoded) == 0)
        convert(const_cast<const uint8_t**>(decoded->extended_data), decoded->nb_samples);
    convert(nullptr, 0);  // what the resampler still holds
    encodeFifo(true);
    avcodec_send_frame(encoder, nullptr);
    writePackets();
    if ((rc = av_write_trailer(out)) < 0)
        Fail("cannot finish " + output + ": " + AvError(rc));
    if ((rc = avio_closep(&out->pb)) < 0)
        Fail("cannot write " + output + ": " + AvError(rc));
    progress(100);

    av_frame_free(&decoded);
    av_packet_free(&packet);
    av_audio_fifo_free(fifo);
    swr_free(&resampler);
    avformat_free_context(out);
    avcodec_free_context(&encoder);
    avcodec_free_context(&decoder);
    avformat_close_input(&in);
    return 0;
}

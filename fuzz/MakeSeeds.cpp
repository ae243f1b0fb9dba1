// Writes fuzz_decode's seed corpus into a folder: very short tones in each format and layout the
// decoders meet, each prefixed with the byte that makes the fuzzer name the file with its extension.
// The formats FFmpeg reads are made by ffmpeg (the command-line tool) when it is there.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include <sndfile.h>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    struct Kind {
        const char* name;
        int format;
        int extensionIndex; // as in DecodeFuzzer.cpp's list
    };
    const Kind kinds[] = {
        {"wav16", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 0}, {"wavfloat", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 0},
        {"wav24", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 0}, {"mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 1},
        {"flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 2}, {"vorbis", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 3},
        {"aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 4}, {"opus", SF_FORMAT_OGG | SF_FORMAT_OPUS, 5},
        {"wavulaw", SF_FORMAT_WAV | SF_FORMAT_ULAW, 6},
    };
    const int rates[] = {8000, 44100, 48000};
    int written = 0;
    for (const Kind& kind : kinds) {
        for (int rate : rates) {
            for (int channels : {1, 2}) {
                if ((kind.format & SF_FORMAT_SUBMASK) == SF_FORMAT_OPUS && rate == 44100)
                    continue; // Opus takes 8, 12, 16, 24 or 48 kHz
                const std::string tmp = dir + "/tmp.audio";
                SF_INFO info{};
                info.samplerate = rate;
                info.channels = channels;
                info.format = kind.format;
                SNDFILE* f = sf_open(tmp.c_str(), SFM_WRITE, &info);
                if (f == nullptr)
                    continue;
                const int frames = rate / 20; // 50 ms
                std::vector<float> samples(static_cast<std::size_t>(frames * channels));
                for (int i = 0; i < frames; ++i)
                    for (int c = 0; c < channels; ++c)
                        samples[static_cast<std::size_t>(i * channels + c)] =
                            0.5f * static_cast<float>(std::sin(2 * M_PI * 440.0 * i / rate));
                sf_writef_float(f, samples.data(), frames);
                sf_close(f);
                std::FILE* in = std::fopen(tmp.c_str(), "rb");
                const std::string seed =
                    dir + "/" + kind.name + "-" + std::to_string(rate) + "-" + std::to_string(channels);
                std::FILE* out = std::fopen(seed.c_str(), "wb");
                if (in == nullptr || out == nullptr)
                    return 1;
                std::fputc(kind.extensionIndex, out);
                char buffer[4096];
                for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, in)) > 0;)
                    std::fwrite(buffer, 1, n, out);
                std::fclose(in);
                std::fclose(out);
                std::remove(tmp.c_str());
                ++written;
            }
        }
    }
    // FLACs that libFLAC misreads or cannot read to the end their header states, and FFmpeg plays:
    // the header's minimum block size below its maximum in a stream of numbered frames, and a header
    // stating a few more samples than the frames hold.
    for (const char* variant : {"flac-minblock", "flac-overstated"}) {
        std::FILE* in = std::fopen((dir + "/flac-44100-2").c_str(), "rb");
        if (in == nullptr)
            break;
        std::vector<unsigned char> bytes(1 << 16);
        bytes.resize(std::fread(bytes.data(), 1, bytes.size(), in));
        std::fclose(in);
        // The seed's first byte, "fLaC" and the STREAMINFO block's header: its fields from 9 on.
        constexpr std::size_t kInfo = 9;
        if (bytes.size() < kInfo + 18)
            break;
        if (variant[5] == 'm') {
            bytes[kInfo] = 0; // minimum block size 16
            bytes[kInfo + 1] = 16;
        } else {
            bytes[kInfo + 16] = static_cast<unsigned char>(bytes[kInfo + 16] + 1); // 256 more samples
        }
        std::FILE* out = std::fopen((dir + "/" + variant).c_str(), "wb");
        if (out == nullptr)
            return 1;
        std::fwrite(bytes.data(), 1, bytes.size(), out);
        std::fclose(out);
        ++written;
    }
    // 50 ms of the tone in each format FFmpeg reads, at 44.1 kHz stereo and 48 kHz mono.
    struct Encoded {
        const char* name;
        const char* arguments;
        const char* extension;
        int extensionIndex;
    };
    const Encoded encoded[] = {
        {"aac", "-c:a aac -b:a 64k", "m4a", 7},
        {"alac", "-c:a alac", "m4a", 7},
        {"wma", "-c:a wmav2 -b:a 64k", "wma", 8},
        {"wavpack", "-c:a wavpack", "wv", 9},
        {"ac3", "-c:a ac3 -b:a 96k", "ac3", 11},
        {"speex", "-ar 16000 -c:a libspeex", "spx", 12},
        {"oggflac", "-c:a flac -f ogg", "oga", 13},
        {"tta", "-c:a tta", "tta", 14},
        {"adts", "-c:a aac -b:a 64k -f adts", "aac", 15},
        {"mka", "-c:a libopus", "mka", 16},
        {"mp3inwav", "-c:a libmp3lame -f wav", "wav", 0},
        {"mp3short", "-t 0.02 -c:a libmp3lame", "mp3", 1}, // a frame or two
    };
    for (const Encoded& e : encoded) {
        const std::pair<const char*, const char*> layouts[] = {{"-ar 44100 -ac 2", "-44100-2"},
                                                               {"-ar 48000 -ac 1", "-48000-1"}};
        for (const auto& [layout, suffix] : layouts) {
            const std::string source = dir + "/source.wav";
            const std::string out = dir + "/tmp." + e.extension;
            const std::string command =
                std::string(
                    "ffmpeg -nostdin -y -loglevel quiet -f lavfi -i sine=frequency=440:duration=0.05 ") +
                layout + " '" + source + "' && ffmpeg -nostdin -y -loglevel quiet -i '" + source + "' " +
                e.arguments + " '" + out + "'";
            if (std::system(command.c_str()) != 0)
                continue;
            std::FILE* in = std::fopen(out.c_str(), "rb");
            const std::string seed = dir + "/" + e.name + suffix;
            std::FILE* f = std::fopen(seed.c_str(), "wb");
            if (in == nullptr || f == nullptr)
                return 1;
            std::fputc(e.extensionIndex, f);
            char buffer[4096];
            for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, in)) > 0;)
                std::fwrite(buffer, 1, n, f);
            std::fclose(in);
            std::fclose(f);
            std::remove(out.c_str());
            std::remove(source.c_str());
            ++written;
        }
    }
    std::printf("%d seed files in %s\n", written, dir.c_str());
    return written > 0 ? 0 : 1;
}

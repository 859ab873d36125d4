#include "MediaFiles.h"

#include "TestUtil.h"

#include <cstdlib>
#include <fstream>
#include <random>
#include <stdexcept>
#include <unistd.h>

namespace mediatest {

namespace {

void must(const std::string &command)
{
    if (testutil::run(command + " >/dev/null 2>&1") != 0)
        throw std::runtime_error("media generation failed: " + command);
}

MediaFiles generate()
{
    static testutil::TempDir dir;
    MediaFiles f;
    f.folder = dir.path();
    const auto at = [&](const char *name) { return dir.path() / name; };
    const auto q = [](const std::filesystem::path &p) { return "'" + p.string() + "'"; };
    must("sox -n -r 44100 -c 2 -b 16 " + q(at("tone.wav")) + " synth 1.5 sine 440");
    must("sox -n -r 44100 -c 2 -b 16 " + q(at("long.wav")) + " synth 4 sine 330");
    must("ffmpeg -nostdin -y -f lavfi -i sine=frequency=500:duration=1 -c:a libmp3lame "
         + q(at("tone.mp3")));
    must("ffmpeg -nostdin -y -f lavfi -i sine=frequency=600:duration=1 -c:a libvorbis "
         + q(at("tone.ogg")));
    must("ffmpeg -nostdin -y -f lavfi -i testsrc=size=160x120:rate=25:duration=1 "
         "-f lavfi -i sine=frequency=700:duration=1 -c:v libx264 -pix_fmt yuv420p "
         "-c:a aac -shortest " + q(at("clip.mp4")));
    must("ffmpeg -nostdin -y -f lavfi -i testsrc=size=160x120:rate=25:duration=1 "
         "-c:v libx264 -pix_fmt yuv420p " + q(at("silent.mp4")));
    {
        std::mt19937 rng(42);
        std::ofstream out(at("corrupt.wav"), std::ios::binary);
        for (int i = 0; i < 20000; ++i)
            out.put(static_cast<char>(rng()));
    }
    testutil::writeFile(at("notes.mp3"), "These are the notes of a lesson, not a sound.\n");
    const auto s = [](const std::filesystem::path &p) { return QString::fromStdString(p.string()); };
    f.wav = s(at("tone.wav"));
    f.longWav = s(at("long.wav"));
    f.mp3 = s(at("tone.mp3"));
    f.ogg = s(at("tone.ogg"));
    f.mp4 = s(at("clip.mp4"));
    f.silentMp4 = s(at("silent.mp4"));
    f.corrupt = s(at("corrupt.wav"));
    f.text = s(at("notes.mp3"));
    f.missing = s(at("no such file.wav"));
    return f;
}

} // namespace

const MediaFiles &files()
{
    static const MediaFiles f = generate();
    return f;
}

NullOutputs::NullOutputs(bool untimed) : m_before(media::MpvBackend::extraOptions())
{
    media::MpvBackend::Options options{{"ao", "null"}, {"vo", "null"}};
    if (untimed)
        options.emplace_back("ao-null-untimed", "yes");
    media::MpvBackend::setExtraOptions(options);
}

NullOutputs::~NullOutputs()
{
    media::MpvBackend::setExtraOptions(m_before);
}

} // namespace mediatest

// Packs and restores a folder of answer recordings with TVCLZip/TVCLUnZip
// and, side by side, with Info-ZIP's "zip -6 -r" and "unzip". Goal: ours
// takes no longer than theirs, and our archive is at most 1.01 times the
// size of theirs.
//
//   bench_zip [--mb N] [--runs N] [--data DIR]
//
// Without --data the recordings are made in a temporary folder: speech from
// espeak-ng with a little background noise, resampled to 44100 Hz stereo
// and encoded to MS ADPCM by sox, as the recorder writes them.

#include "recordings/VCLUnZip.h"
#include "recordings/VCLZip.h"

#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

std::string q(const fs::path &p)
{
    std::string s(1, '\'');
    s += p.string();
    s += '\'';
    return s;
}

int sh(const std::string &cmd)
{
    const int rc = std::system(cmd.c_str());
    if (rc != 0)
        std::fprintf(stderr, "command failed (%d): %s\n", rc, cmd.c_str());
    return rc;
}

std::uintmax_t treeSize(const fs::path &root)
{
    std::uintmax_t total = 0;
    for (const auto &de : fs::recursive_directory_iterator(root))
        if (de.is_regular_file())
            total += de.file_size();
    return total;
}

bool makeAnswers(const fs::path &dir, std::uintmax_t bytes)
{
    fs::create_directories(dir / "part2");
    const fs::path speech = dir / "speech.raw.wav";
    const char *text =
        "Good morning. I think the most important thing for students is to keep a good habit of reading. "
        "When I was young, my father often took me to the library on weekends, and we read stories together. "
        "In my opinion, reading not only helps us learn new words but also opens our minds to the world. "
        "Last summer I travelled to the mountains with my classmates, and we climbed to the top before sunrise. "
        "The view was wonderful, and I will never forget that experience.";
    if (sh("espeak-ng -s 150 -w " + q(speech) + " \"" + std::string(text) + "\"") != 0)
        return false;
    int i = 0;
    std::uintmax_t made = 0;
    while (made < bytes) {
        const fs::path out = dir / (i % 3 == 2 ? "part2" : ".") / ("answer" + std::to_string(i) + ".wav");
        const int pitch = (i * 37) % 400 - 200;
        const double tempo = 0.85 + (i % 7) * 0.05;
        const int repeat = 1 + i % 3;
        const std::string noise = "\"|sox -n -r 22050 -c 1 -b 16 -p synth 400 pinknoise vol 0.01\"";
        const std::string cmd = "sox -m -v 1 " + q(speech) + " " + noise + " -r 44100 -c 2 -e ms-adpcm " + q(out) +
                                " pitch " + std::to_string(pitch) + " tempo " + std::to_string(tempo) + " pad 0.5 1.5 repeat " +
                                std::to_string(repeat) + " trim 0 " + std::to_string(30 + (i % 5) * 10) + " 2>/dev/null";
        if (sh(cmd) != 0)
            return false;
        made += fs::file_size(out);
        ++i;
    }
    fs::remove(speech);
    return true;
}

template <typename F>
double bestOf(int runs, F &&f)
{
    double best = 1e300;
    for (int r = 0; r < runs; ++r) {
        const auto t0 = Clock::now();
        f();
        best = std::min(best, std::chrono::duration<double>(Clock::now() - t0).count());
    }
    return best;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    std::uintmax_t mb = 200;
    int runs = 3;
    fs::path data;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        if (a == "--mb")
            mb = std::strtoull(argv[i + 1], nullptr, 10);
        else if (a == "--runs")
            runs = std::max(1, std::atoi(argv[i + 1]));
        else if (a == "--data")
            data = argv[i + 1];
    }

    char tmpl[] = "/tmp/bench_zip-XXXXXX";
    const fs::path work = ::mkdtemp(tmpl);
    const bool ownData = data.empty();
    if (ownData) {
        data = work / "recording";
        std::printf("making %ju MB of answer recordings ...\n", mb);
        std::fflush(stdout);
        if (!makeAnswers(data, mb * 1024 * 1024)) {
            fs::remove_all(work);
            return 2;
        }
    }
    const std::uintmax_t input = treeSize(data);
    const fs::path ours = work / "ours.zip";
    const fs::path theirs = work / "theirs.zip";

    const double tOurZip = bestOf(runs, [&] {
        fs::remove(ours);
        TVCLZip zip;
        zip.setZipName(QString::fromStdString(ours.string()));
        zip.FilesList.append(QString::fromStdString((data / "*.*").string()));
        zip.Recurse = true;
        zip.Zip();
    });
    const double tTheirZip = bestOf(runs, [&] {
        fs::remove(theirs);
        sh("cd " + q(data) + " && zip -6 -r -q " + q(theirs) + " .");
    });
    const double tOurUnzip = bestOf(runs, [&] {
        fs::remove_all(work / "out1");
        TVCLUnZip unzip;
        unzip.setZipName(QString::fromStdString(ours.string()));
        unzip.setDestDir(QString::fromStdString((work / "out1").string()));
        unzip.DoAll = true;
        unzip.RecreateDirs = true;
        unzip.OverwriteMode = Always;
        unzip.UnZip();
    });
    const double tTheirUnzip = bestOf(runs, [&] {
        fs::remove_all(work / "out2");
        sh("unzip -q -o " + q(theirs) + " -d " + q(work / "out2"));
    });
    const bool same = sh("unzip -tqq " + q(ours)) == 0 && treeSize(work / "out1") == input;

    const double sOurs = static_cast<double>(fs::file_size(ours));
    const double sTheirs = static_cast<double>(fs::file_size(theirs));
    std::printf("input            %10.1f MB in %s\n", input / 1048576.0, data.c_str());
    std::printf("pack    ours     %8.2f s   zip -6 -r %8.2f s   (%.2fx)\n", tOurZip, tTheirZip, tOurZip / tTheirZip);
    std::printf("restore ours     %8.2f s   unzip     %8.2f s   (%.2fx)\n", tOurUnzip, tTheirUnzip,
                tOurUnzip / tTheirUnzip);
    std::printf("archive ours     %10.0f B   zip       %10.0f B   (%.4fx)\n", sOurs, sTheirs, sOurs / sTheirs);
    const bool pass = same && tOurZip <= tTheirZip && tOurUnzip <= tTheirUnzip && sOurs <= 1.01 * sTheirs;
    std::printf("%s\n", pass ? "PASS" : "FAIL");
    fs::remove_all(work);
    return pass ? 0 : 1;
}

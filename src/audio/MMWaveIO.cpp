#include "audio/MMWaveIO.h"

#include <algorithm>
#include <cstring>
#include <system_error>

namespace {

constexpr FOURCC kWAVE = mmioFOURCC('W', 'A', 'V', 'E');
constexpr FOURCC kFmt = mmioFOURCC('f', 'm', 't', ' ');
constexpr FOURCC kData = mmioFOURCC('d', 'a', 't', 'a');
constexpr FOURCC kFact = mmioFOURCC('f', 'a', 'c', 't');
constexpr FOURCC kDisp = mmioFOURCC('D', 'I', 'S', 'P');
constexpr FOURCC kInfo = mmioFOURCC('I', 'N', 'F', 'O');

// Limits on what a file read from disk may make us allocate.
constexpr std::uint32_t kMaxFormatBytes = 65536;
constexpr std::uint32_t kMaxEntryBytes = 1 << 20;
constexpr std::size_t kMaxEntries = 256;

std::int64_t roundDiv(std::int64_t num, std::int64_t den)
{
    if (den <= 0)
        return 0;
    return (num * 2 + den) / (den * 2);
}

} // namespace

std::int64_t wioBytesToSamples(const TWaveFormatEx *f, std::int64_t bytes)
{
    if (!f || f->nAvgBytesPerSec == 0)
        return 0;
    return roundDiv(bytes * f->nSamplesPerSec, f->nAvgBytesPerSec);
}

std::int64_t wioSamplesToBytes(const TWaveFormatEx *f, std::int64_t samples)
{
    if (!f || f->nSamplesPerSec == 0)
        return 0;
    std::int64_t bytes = roundDiv(samples * f->nAvgBytesPerSec, f->nSamplesPerSec);
    if (f->nBlockAlign > 1)
        bytes = (bytes + f->nBlockAlign - 1) / f->nBlockAlign * f->nBlockAlign;
    return bytes;
}

std::int64_t wioSamplesToTime(const TWaveFormatEx *f, std::int64_t samples)
{
    if (!f || f->nSamplesPerSec == 0)
        return 0;
    return roundDiv(samples * 1000, f->nSamplesPerSec);
}

std::int64_t wioTimeToSamples(const TWaveFormatEx *f, std::int64_t ms)
{
    if (!f)
        return 0;
    return roundDiv(ms * f->nSamplesPerSec, 1000);
}

std::unique_ptr<WaveIORecord> wioCreateFile(const std::filesystem::path &path, const TWaveFormatEx *format)
{
    if (!format)
        return {};
    auto io = std::make_unique<WaveIORecord>();
    io->format = copyWaveFormat(format);
    io->fileName = path;
    io->file = std::make_unique<RiffFile>();
    auto fail = [&]() -> std::unique_ptr<WaveIORecord> {
        io->file->close();
        std::error_code ec;
        std::filesystem::remove(path, ec);
        return {};
    };
    if (!io->file->open(path, RiffFile::Mode::Create))
        return {};
    io->ckRIFF.fccType = kWAVE;
    if (!io->file->createChunk(io->ckRIFF, MMIO_CREATERIFF))
        return fail();
    TMMCKInfo fmt;
    fmt.ckid = kFmt;
    const std::string bytes = waveFormatBytes(format);
    fmt.cksize = static_cast<std::uint32_t>(bytes.size());
    if (!io->file->createChunk(fmt, 0) || io->file->write(bytes.data(), bytes.size()) != bytes.size()
        || !io->file->ascend(fmt))
        return fail();
    io->ckData.ckid = kData;
    io->ckData.cksize = 0;
    if (!io->file->createChunk(io->ckData, 0))
        return fail();
    // The header must be on disk now: a recording that dies before its
    // first buffer still leaves a recognisable file.
    if (!io->file->flush())
        return fail();
    io->dataOffset = io->ckData.dwDataOffset;
    io->created = true;
    return io;
}

std::int32_t wioWriteData(WaveIORecord &io, const void *data, std::int32_t count)
{
    if (!io.isOpen() || count <= 0)
        return -1;
    const std::size_t n = io.file->write(data, static_cast<std::size_t>(count));
    if (n == 0)
        return 0;
    io.ckData.dwFlags |= MMIO_DIRTY;
    const std::int64_t pos = io.file->tell();
    io.dataBytes = std::max(io.dataBytes, pos - io.dataOffset);
    io.currentSample = wioBytesToSamples(io.format.get(), pos - io.dataOffset);
    io.totalSamples = std::max(io.totalSamples, io.currentSample);
    io.lastSample = io.currentSample;
    return static_cast<std::int32_t>(n);
}

bool wioCloseFile(WaveIORecord &io)
{
    if (!io.isOpen())
        return true;
    RiffFile &f = *io.file;
    bool ok = true;
    if (io.ckData.dwFlags & MMIO_DIRTY) {
        ok = f.flush();
        if (ok && !io.created) {
            io.ckData.dwFlags |= MMIO_DIRTY;
            io.ckRIFF.dwFlags |= MMIO_DIRTY;
            ok = f.seek(io.dataOffset + io.dataBytes) >= 0;
        }
        ok = ok && f.ascend(io.ckData);
        if (ok) {
            TMMCKInfo fact;
            fact.ckid = kFact;
            fact.cksize = 4;
            std::uint8_t v[4];
            const auto samples = static_cast<std::uint32_t>(io.totalSamples);
            for (int i = 0; i < 4; ++i)
                v[i] = static_cast<std::uint8_t>((samples >> (8 * i)) & 0xFF);
            ok = f.createChunk(fact, 0) && f.write(v, 4) == 4 && f.ascend(fact);
        }
        for (const WaveDispEntry &d : io.disp) {
            if (!ok || d.data.empty() || (d.type != 1 && d.type != 8))
                continue;
            TMMCKInfo ck;
            ck.ckid = kDisp;
            std::uint8_t t[4];
            for (int i = 0; i < 4; ++i)
                t[i] = static_cast<std::uint8_t>((d.type >> (8 * i)) & 0xFF);
            ok = f.createChunk(ck, 0) && f.write(t, 4) == 4
                 && f.write(d.data.data(), d.data.size()) == d.data.size() && f.ascend(ck);
        }
        const bool anyInfo = std::any_of(io.info.begin(), io.info.end(),
                                         [](const WaveInfoEntry &e) { return !e.text.empty(); });
        if (ok && anyInfo) {
            TMMCKInfo list;
            list.fccType = kInfo;
            ok = f.createChunk(list, MMIO_CREATELIST);
            for (const WaveInfoEntry &e : io.info) {
                if (!ok || e.text.empty())
                    continue;
                TMMCKInfo ck;
                ck.ckid = e.id;
                ok = f.createChunk(ck, 0) && f.write(e.text.c_str(), e.text.size() + 1) == e.text.size() + 1
                     && f.ascend(ck);
            }
            ok = ok && f.ascend(list);
        }
        io.ckRIFF.dwFlags |= MMIO_DIRTY;
        ok = ok && f.ascend(io.ckRIFF);
        ok = ok && f.flush();
        // A reopened file may have been longer than what was written now.
        if (ok && !io.created)
            ok = f.truncateHere();
        io.fileSize = f.fileSize();
        io.lastSample = io.totalSamples;
    }
    if (!f.close())
        ok = false;
    io.file.reset();
    io.bytesRemaining = 0;
    io.currentSample = 0;
    return ok;
}

bool wioReopenFile(WaveIORecord &io)
{
    if (io.isOpen())
        return true;
    auto f = std::make_unique<RiffFile>();
    if (!f->open(io.fileName, RiffFile::Mode::Update))
        return false;
    // New data go right behind the old; the chunks after "data" are
    // written again when the file is closed.
    if (f->seek(io.dataOffset + io.dataBytes) < 0)
        return false;
    io.file = std::move(f);
    io.created = false;
    io.currentSample = io.totalSamples;
    return true;
}

std::unique_ptr<WaveIORecord> wioReadFileInfo(const std::filesystem::path &path, WioReadError &error)
{
    error = WioReadError::None;
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) {
        error = WioReadError::Missing;
        return {};
    }
    RiffFile f;
    if (!f.open(path, RiffFile::Mode::Read)) {
        error = WioReadError::Missing;
        return {};
    }
    const std::int64_t size = f.fileSize();
    TMMCKInfo riff;
    riff.fccType = kWAVE;
    if (!f.descend(riff, nullptr, MMIO_FINDRIFF)) {
        error = WioReadError::NotWave;
        return {};
    }
    // A RIFF size that overstates the file is trimmed to what is there.
    if (static_cast<std::int64_t>(riff.dwDataOffset) + riff.cksize > size)
        riff.cksize = static_cast<std::uint32_t>(size - riff.dwDataOffset);
    const std::int64_t body = riff.dwDataOffset + 4;

    auto io = std::make_unique<WaveIORecord>();
    io->fileName = path;
    io->ckRIFF = riff;

    TMMCKInfo fmt;
    fmt.ckid = kFmt;
    if (f.seek(body) < 0 || !f.descend(fmt, &riff, MMIO_FINDCHUNK) || fmt.cksize < 16
        || fmt.cksize > kMaxFormatBytes
        || static_cast<std::int64_t>(fmt.dwDataOffset) + fmt.cksize > size) {
        error = WioReadError::Damaged;
        return {};
    }
    std::string fmtBytes(fmt.cksize, '\0');
    if (f.read(fmtBytes.data(), fmtBytes.size()) != fmtBytes.size()) {
        error = WioReadError::Damaged;
        return {};
    }
    io->format = waveFormatFromBytes(fmtBytes.data(), fmtBytes.size());
    if (!io->format || io->format->nChannels == 0 || io->format->nSamplesPerSec == 0
        || io->format->nAvgBytesPerSec == 0 || io->format->nBlockAlign == 0) {
        error = WioReadError::Damaged;
        return {};
    }

    TMMCKInfo data;
    data.ckid = kData;
    if (f.seek(body) < 0 || !f.descend(data, &riff, MMIO_FINDCHUNK)) {
        error = WioReadError::Damaged;
        return {};
    }
    io->ckData = data;
    io->dataOffset = data.dwDataOffset;
    io->dataBytes = std::min<std::int64_t>(data.cksize, size - data.dwDataOffset);

    TMMCKInfo fact;
    fact.ckid = kFact;
    std::uint8_t v[4];
    if (f.seek(body) >= 0 && f.descend(fact, &riff, MMIO_FINDCHUNK) && fact.cksize >= 4 && f.read(v, 4) == 4)
        io->totalSamples = static_cast<std::int64_t>(v[0] | (v[1] << 8) | (v[2] << 16)
                                                     | (static_cast<std::uint32_t>(v[3]) << 24));
    else
        io->totalSamples = wioBytesToSamples(io->format.get(), io->dataBytes);

    // Display entries and the information list are optional; damaged ones
    // are skipped.
    f.seek(body);
    TMMCKInfo disp;
    disp.ckid = kDisp;
    while (io->disp.size() < kMaxEntries && f.descend(disp, &riff, MMIO_FINDCHUNK)) {
        if (disp.cksize >= 4 && disp.cksize <= kMaxEntryBytes
            && static_cast<std::int64_t>(disp.dwDataOffset) + disp.cksize <= size) {
            std::string raw(disp.cksize, '\0');
            if (f.read(raw.data(), raw.size()) == raw.size()) {
                WaveDispEntry e;
                e.type = static_cast<std::uint8_t>(raw[0]) | (static_cast<std::uint8_t>(raw[1]) << 8);
                e.data = raw.substr(4);
                io->disp.push_back(std::move(e));
            }
        }
        if (!f.ascend(disp))
            break;
        disp = TMMCKInfo{};
        disp.ckid = kDisp;
    }
    f.seek(body);
    TMMCKInfo list;
    list.fccType = kInfo;
    if (f.descend(list, &riff, MMIO_FINDLIST)) {
        const std::int64_t listEnd = std::min<std::int64_t>(list.dwDataOffset + list.cksize, size);
        while (io->info.size() < kMaxEntries && f.tell() + 8 <= listEnd) {
            TMMCKInfo sub;
            if (!f.descend(sub, &list, 0))
                break;
            if (sub.cksize <= kMaxEntryBytes && static_cast<std::int64_t>(sub.dwDataOffset) + sub.cksize <= size) {
                std::string text(sub.cksize, '\0');
                if (f.read(text.data(), text.size()) == text.size()) {
                    text = text.substr(0, text.find('\0'));
                    io->info.push_back({sub.ckid, text});
                }
            }
            if (!f.ascend(sub))
                break;
        }
    }

    io->fileSize = size;
    io->firstSample = 0;
    io->lastSample = io->totalSamples;
    return io;
}

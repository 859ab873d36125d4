#include "platform/CodePage.h"

#include <iconv.h>

#include <cerrno>
#include <memory>

namespace platform {

namespace {

struct IconvCloser {
    void operator()(void *cd) const { iconv_close(static_cast<iconv_t>(cd)); }
};
using IconvHandle = std::unique_ptr<void, IconvCloser>;

IconvHandle openIconv(const char *to, const char *from)
{
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return nullptr;
    return IconvHandle(cd);
}

// Converts with iconv, replacing each undecodable byte (or unencodable
// character) by a replacement and carrying on.
std::string convert(std::string_view in, const char *to, const char *from,
                    std::string_view replacement, std::size_t unitSize)
{
    IconvHandle cd = openIconv(to, from);
    if (!cd)
        return {};
    std::string out;
    out.reserve(in.size() * 2 + 16);
    char *src = const_cast<char *>(in.data());
    std::size_t srcLeft = in.size();
    char buf[4096];
    while (srcLeft > 0) {
        char *dst = buf;
        std::size_t dstLeft = sizeof buf;
        const std::size_t r = iconv(static_cast<iconv_t>(cd.get()), &src, &srcLeft, &dst, &dstLeft);
        out.append(buf, static_cast<std::size_t>(dst - buf));
        if (r == static_cast<std::size_t>(-1)) {
            if (errno == E2BIG)
                continue;
            // EILSEQ or EINVAL (a truncated sequence at the end): skip one
            // input unit and put the replacement in its place.
            out.append(replacement);
            const std::size_t skip = std::min(unitSize, srcLeft);
            src += skip;
            srcLeft -= skip;
            iconv(static_cast<iconv_t>(cd.get()), nullptr, nullptr, nullptr, nullptr);
        }
    }
    return out;
}

QString fromNamed(std::string_view bytes, const char *name)
{
    const std::string utf8 = convert(bytes, "UTF-8", name, "\xEF\xBF\xBD", 1);
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

} // namespace

QString fromAnsi(std::string_view bytes)
{
    return fromNamed(bytes, "GB18030");
}

std::string toAnsi(const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    // Characters outside GBK are unencodable in CP936; a UTF-8 sequence is
    // skipped whole by stepping to the next lead byte.
    IconvHandle cd = openIconv("GBK", "UTF-8");
    if (!cd)
        return {};
    std::string out;
    char *src = const_cast<char *>(utf8.constData());
    std::size_t srcLeft = static_cast<std::size_t>(utf8.size());
    char buf[4096];
    while (srcLeft > 0) {
        char *dst = buf;
        std::size_t dstLeft = sizeof buf;
        const std::size_t r = iconv(static_cast<iconv_t>(cd.get()), &src, &srcLeft, &dst, &dstLeft);
        out.append(buf, static_cast<std::size_t>(dst - buf));
        if (r == static_cast<std::size_t>(-1)) {
            if (errno == E2BIG)
                continue;
            out.push_back('?');
            do {
                ++src;
                --srcLeft;
            } while (srcLeft > 0 && (static_cast<unsigned char>(*src) & 0xC0) == 0x80);
            iconv(static_cast<iconv_t>(cd.get()), nullptr, nullptr, nullptr, nullptr);
        }
    }
    return out;
}

std::string codePageName(int codePage)
{
    switch (codePage) {
    case 936: return "GB18030";
    case 54936: return "GB18030";
    case 950: return "BIG5";
    case 932: return "SHIFT_JIS";
    case 949: return "CP949";
    case 65001: return "UTF-8";
    case 1200: return "UTF-16LE";
    case 20127: return "ASCII";
    case 28591: return "ISO-8859-1";
    default:
        if (codePage >= 1250 && codePage <= 1258)
            return "CP" + std::to_string(codePage);
        if (codePage == 437 || codePage == 850 || codePage == 866)
            return "CP" + std::to_string(codePage);
        return {};
    }
}

QString fromCodePage(std::string_view bytes, const std::string &codePage)
{
    std::string name;
    for (char c : codePage)
        name.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
    if (name == "UTF-8" || name == "UTF8")
        return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
    // GBK and GB2312 files written on Windows are CP936; read all of them
    // as GB18030, which is a superset of each.
    if (name.empty() || name == "GBK" || name == "GB2312" || name == "CP936" || name == "GB18030"
        || name == "EUC-CN" || name == "X-GBK" || name == "WINDOWS-936")
        return fromAnsi(bytes);
    IconvHandle probe = openIconv("UTF-8", name.c_str());
    if (!probe)
        return fromAnsi(bytes);
    return fromNamed(bytes, name.c_str());
}

bool isValidUtf8(std::string_view s)
{
    std::size_t i = 0;
    const std::size_t n = s.size();
    while (i < n) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            ++i;
            continue;
        }
        std::size_t len;
        std::uint32_t cp;
        if ((c & 0xE0) == 0xC0) { len = 2; cp = c & 0x1F; }
        else if ((c & 0xF0) == 0xE0) { len = 3; cp = c & 0x0F; }
        else if ((c & 0xF8) == 0xF0) { len = 4; cp = c & 0x07; }
        else return false;
        if (i + len > n)
            return false;
        for (std::size_t k = 1; k < len; ++k) {
            const auto cc = static_cast<unsigned char>(s[i + k]);
            if ((cc & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF are invalid.
        if ((len == 2 && cp < 0x80) || (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000)
            || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += len;
    }
    return true;
}

QString decodeText(std::string_view bytes)
{
    if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF")
        return QString::fromUtf8(bytes.data() + 3, static_cast<qsizetype>(bytes.size() - 3));
    if (bytes.size() >= 2 && bytes.substr(0, 2) == "\xFF\xFE")
        return fromNamed(bytes.substr(2), "UTF-16LE");
    if (bytes.size() >= 2 && bytes.substr(0, 2) == "\xFE\xFF")
        return fromNamed(bytes.substr(2), "UTF-16BE");
    if (isValidUtf8(bytes))
        return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
    return fromAnsi(bytes);
}

} // namespace platform

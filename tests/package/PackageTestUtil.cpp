#include "PackageTestUtil.h"

#include "TestUtil.h"

#include <zlib.h>

namespace fs = std::filesystem;

namespace pkgtest {

std::string zlibCompress(std::string_view data)
{
    uLongf size = compressBound(uLong(data.size()));
    std::string out(size, '\0');
    compress2(reinterpret_cast<Bytef *>(out.data()), &size, reinterpret_cast<const Bytef *>(data.data()),
              uLong(data.size()), 6);
    out.resize(size);
    return out;
}

std::string package(std::string_view rar, std::int32_t size, std::uint32_t bytes4to7)
{
    std::string out;
    const auto u = std::uint32_t(size);
    for (int i = 0; i < 4; ++i)
        out.push_back(char((u >> (8 * i)) & 0xFF));
    for (int i = 0; i < 4; ++i)
        out.push_back(char((bytes4to7 >> (8 * i)) & 0xFF));
    return out + zlibCompress(rar);
}

std::map<std::string, std::string> treeOf(const fs::path &folder)
{
    std::map<std::string, std::string> tree;
    for (const auto &e : fs::recursive_directory_iterator(folder))
        if (e.is_regular_file() && !e.is_symlink())
            tree[fs::relative(e.path(), folder).generic_string()] = testutil::readFile(e.path());
    return tree;
}

fs::path rarSample(const char *name) { return testutil::testdataDir() / "rar" / name; }

} // namespace pkgtest

// Loading time of a large manifest: the packet parse and the tree build
// with its locale-aware sort, as a test window's creation does them.
//
//   bench_manifest_load [rows]

#include "platform/AppSetup.h"
#include "playlist/TClientDataSet.h"
#include "playlist/TreeFunc.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTreeWidget>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char **argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const int rows = argc > 1 ? std::atoi(argv[1]) : 5000;
    platform::ensureUtf8Locale();
    QApplication app(argc, argv);

    std::string packet = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?><DATAPACKET Version=\"2.0\">"
                         "<METADATA><FIELDS><FIELD attrname=\"ItemID\" fieldtype=\"string\" WIDTH=\"100\"/>"
                         "<FIELD attrname=\"SubItemID\" fieldtype=\"string\" WIDTH=\"100\"/>"
                         "<FIELD attrname=\"FilePath\" fieldtype=\"string\" WIDTH=\"100\"/></FIELDS></METADATA><ROWDATA>";
    for (int i = 0; i < rows; ++i)
        packet += "<ROW ItemID=\"第" + std::to_string(i % 7) + "部分\" SubItemID=\"第" + std::to_string(i % 31)
                  + "节\" FilePath=\"音频\\" + std::to_string(i) + ".mp3\"/>";
    packet += "</ROWDATA></DATAPACKET>";

    QElapsedTimer t;
    t.start();
    const TDataPacket p = parseDataPacket(packet, QStringLiteral("dsplaylist"));
    const qint64 parseMs = t.elapsed();
    t.restart();
    QTreeWidget tree;
    for (std::size_t i = 0; i < p.rows.size(); ++i)
        TreeFunc::AddTreePath(&tree, {*p.rows[i][0], *p.rows[i][1], *p.rows[i][2]}, static_cast<int>(i), false);
    const qint64 buildMs = t.elapsed();
    t.restart();
    TreeFunc::SortChildren(&tree, nullptr, true);
    const qint64 sortMs = t.elapsed();
    std::printf("%d rows (%zu bytes): parse %lld ms, tree %lld ms, sort %lld ms, %d nodes\n", rows, packet.size(),
                static_cast<long long>(parseMs), static_cast<long long>(buildMs), static_cast<long long>(sortMs),
                TreeFunc::NodeCount(&tree));
    return 0;
}

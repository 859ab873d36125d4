#pragma once

#include <QString>

#include <string>
#include <vector>

// Builds manifests the way the data-set engine writes them, for tests.
namespace manifest {

struct Row {
    QString itemId;
    QString subItemId;
    QString fileType;
    QString filePath;
    QString playTime = QStringLiteral("0");
    QString playDesc;
    QString playHint;
    QString font;
};

enum class Encoding { Utf8Declared, Utf8Bare, GbkBare, Gb2312Declared };

// The whole packet as bytes, one line like an engine-written file.
[[nodiscard]] std::string packet(const std::vector<Row> &rows, Encoding encoding = Encoding::Utf8Declared);

// XML escaping of an attribute value.
[[nodiscard]] QString escape(const QString &s);

} // namespace manifest

#pragma once

#include <QString>

namespace brevalto {

// A count with its noun in the right form: "1 item", "2 items", "0 items".
inline QString counted(long long count, const QString& singular, const QString& plural) {
    return QStringLiteral("%1 %2").arg(count).arg(count == 1 ? singular : plural);
}

}  // namespace brevalto

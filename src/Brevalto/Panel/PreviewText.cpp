#include "Panel/PreviewText.h"

#include "Clipboard/ClipboardMonitor.h"
#include "ClipCore/Clip.h"

#include <QLocale>
#include <QStringList>

namespace brevalto {

namespace {

bool isLineBreak(QChar c) {
    switch (c.unicode()) {
    case 0x000A:
    case 0x000B:
    case 0x000C:
    case 0x000D:
    case 0x0085:
    case 0x2028:
    case 0x2029:
        return true;
    default:
        return false;
    }
}

bool isHorizontalSpace(QChar c) {
    return c == QLatin1Char('\t') || c.category() == QChar::Separator_Space;
}

}  // namespace

QString joinLines(const QString& text) {
    QStringList pieces;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i < text.size() && !isLineBreak(text[i])) continue;
        qsizetype from = start;
        qsizetype to = i;
        while (from < to && isHorizontalSpace(text[from])) ++from;
        while (to > from && isHorizontalSpace(text[to - 1])) --to;
        if (to > from) pieces << text.mid(from, to - from);
        start = i + 1;
    }
    return pieces.join(QLatin1Char(' '));
}

void copyTextAsClip(const QString& text, const std::string& source, ClipboardMonitor& monitor,
                    const std::string& digest) {
    const QByteArray utf8 = text.toUtf8();
    const Clip clip(Clip::Kind::text, SharedText(std::string(utf8.constData(), std::size_t(utf8.size()))), std::nullopt,
                    digest, utf8.size(), source);
    monitor.copy(clip);
}

QString ocrLanguageName(const QString& code) {
    const QLocale locale(code);
    if (locale.language() == QLocale::C || locale.language() == QLocale::AnyLanguage) return code;
    // Names are known in English and in each language's own tongue.
    if (QLocale().language() == locale.language()) return locale.nativeLanguageName();
    return QLocale::languageToString(locale.language());
}

}  // namespace brevalto

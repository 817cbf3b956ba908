#include "Upload/S3Lifecycle.h"

#include "Upload/S3Failure.h"

#include <QString>
#include <QXmlStreamReader>

namespace brevalto {

std::vector<std::string> foreignLifecycleRules(std::string_view document) {
    // Offsets are counted in the decoded text, so the rules are cut from that text.
    const QString text = QString::fromUtf8(document.data(), static_cast<qsizetype>(document.size()));
    QXmlStreamReader reader(text);
    reader.setNamespaceProcessing(true);

    std::vector<std::string> kept;
    bool sawRoot = false;
    int depth = 0;
    qint64 ruleStart = -1;
    bool ruleIsOurs = false;
    int idDepth = 0;  // depth of the "ID" element being read inside a rule, 0 outside one
    QString idText;

    while (!reader.atEnd()) {
        const qint64 before = reader.characterOffset();
        const QXmlStreamReader::TokenType token = reader.readNext();
        switch (token) {
        case QXmlStreamReader::DTD:
        case QXmlStreamReader::EntityReference:
            throw S3Failure::response();
        case QXmlStreamReader::StartElement:
            ++depth;
            if (depth == 1) sawRoot = true;
            if (depth == 2 && reader.name() == u"Rule") {
                ruleStart = before;
                ruleIsOurs = false;
            } else if (depth == 3 && ruleStart >= 0 && reader.name() == u"ID") {
                idDepth = depth;
                idText.clear();
            }
            break;
        case QXmlStreamReader::Characters:
            if (idDepth) idText += reader.text();
            break;
        case QXmlStreamReader::EndElement:
            if (idDepth && depth == idDepth) {
                if (idText == QLatin1StringView(s3ExpiryRuleID.data(), s3ExpiryRuleID.size())) ruleIsOurs = true;
                idDepth = 0;
            }
            if (depth == 2 && ruleStart >= 0) {
                if (!ruleIsOurs) kept.push_back(text.mid(ruleStart, reader.characterOffset() - ruleStart).toStdString());
                ruleStart = -1;
            }
            --depth;
            break;
        default:
            break;
        }
    }
    if (reader.hasError() || !sawRoot) throw S3Failure::response();
    return kept;
}

namespace {

std::string escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '&')
            out += "&amp;";
        else if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else
            out += c;
    }
    return out;
}

}  // namespace

std::string lifecycleDocument(const std::vector<std::string>& keptRules, const std::string& rulePrefix, int days) {
    std::string body =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
        "<LifecycleConfiguration xmlns=\"http://s3.amazonaws.com/doc/2006-03-01/\">";
    for (const std::string& rule : keptRules) body += rule;
    if (days > 0)
        body += "<Rule><ID>" + std::string(s3ExpiryRuleID) + "</ID><Filter><Prefix>" + escaped(rulePrefix) +
                "</Prefix></Filter><Status>Enabled</Status><Expiration><Days>" + std::to_string(days) +
                "</Days></Expiration></Rule>";
    return body + "</LifecycleConfiguration>";
}

}  // namespace brevalto

#include "Upload/S3Lifecycle.h"

#include "Upload/S3Failure.h"

#include <QSet>
#include <QString>
#include <QXmlStreamReader>

#include <algorithm>

namespace brevalto {

namespace {

// An attribute value in double quotes, with what the XML reader would change escaped.
QString quotedAttribute(QStringView value) {
    QString out = QStringLiteral("\"");
    for (const QChar c : value) {
        switch (c.unicode()) {
        case '&': out += QStringLiteral("&amp;"); break;
        case '<': out += QStringLiteral("&lt;"); break;
        case '"': out += QStringLiteral("&quot;"); break;
        case '\t': out += QStringLiteral("&#9;"); break;
        case '\n': out += QStringLiteral("&#10;"); break;
        case '\r': out += QStringLiteral("&#13;"); break;
        default: out += c;
        }
    }
    return out + u'"';
}

// The declarations, for a rule's start tag, of the prefixes that the rule uses and only the root
// declares: a rule cut out of its document must still say what its prefixes mean, or the document
// it is put back into does not parse.
QString outerPrefixes(const QXmlStreamNamespaceDeclarations& root, const QXmlStreamNamespaceDeclarations& rule,
                      const QSet<QString>& used) {
    QString out;
    for (const auto& declaration : root) {
        const QString prefix = declaration.prefix().toString();
        if (prefix.isEmpty() || !used.contains(prefix)) continue;
        const bool redeclared =
            std::any_of(rule.begin(), rule.end(), [&](const auto& own) { return own.prefix() == prefix; });
        if (!redeclared) out += QStringLiteral(" xmlns:") + prefix + u'=' + quotedAttribute(declaration.namespaceUri());
    }
    return out;
}

// The prefixes that the reader's element and its attributes are written with.
void addPrefixes(const QXmlStreamReader& reader, QSet<QString>& used) {
    if (!reader.prefix().isEmpty()) used.insert(reader.prefix().toString());
    for (const auto& attribute : reader.attributes())
        if (!attribute.prefix().isEmpty()) used.insert(attribute.prefix().toString());
}

}  // namespace

std::vector<std::string> foreignLifecycleRules(std::string_view document) {
    // Offsets are counted in the decoded text, so the rules are cut from that text.
    const QString text = QString::fromUtf8(document.data(), static_cast<qsizetype>(document.size()));
    QXmlStreamReader reader(text);
    reader.setNamespaceProcessing(true);

    std::vector<std::string> kept;
    bool sawRoot = false;
    QXmlStreamNamespaceDeclarations rootDeclarations;
    int depth = 0;
    qint64 ruleStart = -1;
    qsizetype ruleNameEnd = 0;  // after "<" and the rule's qualified name, in the rule's text
    QXmlStreamNamespaceDeclarations ruleDeclarations;
    QSet<QString> rulePrefixes;  // used inside the rule
    bool ruleIsOurs = false;
    int idDepth = 0;  // depth of the "ID" element being read inside a rule, 0 outside one
    QString idText;

    while (!reader.atEnd()) {
        const QXmlStreamReader::TokenType token = reader.readNext();
        switch (token) {
        case QXmlStreamReader::DTD:
        case QXmlStreamReader::EntityReference:
            throw S3Failure::response();
        case QXmlStreamReader::StartElement:
            ++depth;
            if (depth == 1) {
                sawRoot = true;
                rootDeclarations = reader.namespaceDeclarations();
            }
            if (depth == 2 && reader.name() == u"Rule") {
                // The reader stands after the start tag, which holds no other "<". (The offset
                // before the token is no guide: after text the reader has already taken the "<".)
                ruleStart = text.lastIndexOf(u'<', reader.characterOffset() - 1);
                ruleIsOurs = false;
                ruleNameEnd = 1 + reader.qualifiedName().size();
                ruleDeclarations = reader.namespaceDeclarations();
                rulePrefixes.clear();
            }
            if (ruleStart >= 0) addPrefixes(reader, rulePrefixes);
            if (depth == 3 && ruleStart >= 0 && reader.name() == u"ID") {
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
                if (!ruleIsOurs) {
                    QString rule = text.mid(ruleStart, reader.characterOffset() - ruleStart);
                    rule.insert(ruleNameEnd, outerPrefixes(rootDeclarations, ruleDeclarations, rulePrefixes));
                    kept.push_back(rule.toStdString());
                }
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

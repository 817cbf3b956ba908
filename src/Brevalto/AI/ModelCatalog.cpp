#include "AI/ModelCatalog.h"

#include <QString>
#include <QTextBoundaryFinder>

#include <algorithm>

namespace brevalto::ModelCatalog {

namespace {

std::string asciiLower(std::string_view text) {
    std::string lower(text);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return lower;
}

std::vector<QString> graphemes(const QString& text) {
    std::vector<QString> characters;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype start = 0;
    for (qsizetype end = finder.toNextBoundary(); end != -1; end = finder.toNextBoundary()) {
        if (end > start) characters.push_back(text.mid(start, end - start));
        start = end;
    }
    return characters;
}

// The user-perceived characters of the text, each lowercased and in composed form, so that "É",
// "é" and "e" + U+0301 compare equal.
std::vector<QString> foldedCharacters(const QString& text) {
    std::vector<QString> characters = graphemes(text);
    for (QString& character : characters) character = character.toLower().normalized(QString::NormalizationForm_C);
    return characters;
}

}  // namespace

std::vector<std::string> characters(std::string_view text) {
    std::vector<std::string> result;
    for (const QString& character : graphemes(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()))))
        result.push_back(character.toStdString());
    return result;
}

std::string modelSection(std::string_view id) {
    const std::string lower = asciiLower(id);
    for (std::string_view family : families)
        if (lower.find(asciiLower(family)) != std::string::npos) return std::string(family);
    return std::string(otherTitle);
}

std::optional<std::vector<int>> fuzzyMatch(std::string_view query, std::string_view candidate) {
    QString q = QString::fromUtf8(query.data(), static_cast<qsizetype>(query.size()));
    q.removeIf([](QChar c) { return c.isSpace(); });
    if (q.isEmpty()) return std::vector<int>{};
    const std::vector<QString> wanted = foldedCharacters(q);
    const std::vector<QString> characters =
        foldedCharacters(QString::fromUtf8(candidate.data(), static_cast<qsizetype>(candidate.size())));
    std::vector<int> offsets;
    std::size_t j = 0;
    for (std::size_t i = 0; i < characters.size() && j < wanted.size(); ++i) {
        if (characters[i] != wanted[j]) continue;
        offsets.push_back(static_cast<int>(i));
        ++j;
    }
    if (j < wanted.size()) return std::nullopt;
    return offsets;
}

std::vector<Section> sections(const std::vector<AIModel>& models, const std::vector<std::string>& recent,
                              const std::string& current, std::string_view query) {
    std::vector<AIModel> working = models;
    const auto listed = [&](const std::string& id) {
        return std::any_of(working.begin(), working.end(), [&](const AIModel& m) { return m.id == id; });
    };
    std::vector<std::string> added{current};
    added.insert(added.end(), recent.begin(), recent.end());
    for (const std::string& id : added)
        if (!id.empty() && !listed(id)) working.push_back({id, std::nullopt});

    std::vector<AIModel> filtered;
    for (const AIModel& model : working)
        if (query.empty() || fuzzyMatch(query, model.name.value_or(model.id)) || fuzzyMatch(query, model.id))
            filtered.push_back(model);

    std::vector<Section> result;
    Section recentSection{std::string(recentTitle), {}};
    for (const std::string& id : recent) {
        auto found = std::find_if(filtered.begin(), filtered.end(), [&](const AIModel& m) { return m.id == id; });
        if (found != filtered.end()) recentSection.models.push_back(*found);
    }
    if (!recentSection.models.empty()) result.push_back(std::move(recentSection));

    std::array<std::string_view, 4> titles{families[0], families[1], families[2], otherTitle};
    for (std::string_view title : titles) {
        Section section{std::string(title), {}};
        for (const AIModel& model : filtered)
            if (modelSection(model.id) == title && std::find(recent.begin(), recent.end(), model.id) == recent.end())
                section.models.push_back(model);
        if (!section.models.empty()) result.push_back(std::move(section));
    }
    return result;
}

}  // namespace brevalto::ModelCatalog

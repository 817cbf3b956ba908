// Hostile "document.json" input: whatever the bytes, decoding either yields a document that
// passes validation and survives a round trip, or fails with one of the document's own errors.
#include "Document/DocumentValidation.h"
#include "Document/ScreenshotDocument.h"
#include "DocumentSamples.h"
#include "Errors/ScreenshotError.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <random>

namespace brevalto {
namespace {

using Json = nlohmann::ordered_json;

// Decodes; on success checks that the document is valid and encodes to something that decodes
// to an equal document. Returns what happened, for the failure message.
std::string exercise(const std::string& bytes) {
    try {
        const ScreenshotDocument document = ScreenshotDocument::decode(bytes);
        validateDocument(document);
        const ScreenshotDocument again = ScreenshotDocument::decode(document.encode());
        if (!(again == document)) return "round trip changed the document";
        return "decoded";
    } catch (const ScreenshotError&) {
        return "refused";
    } catch (const ScreenshotDocumentFormatError&) {
        return "malformed";
    } catch (const std::exception& error) {
        return std::string("unexpected ") + typeid(error).name() + ": " + error.what();
    }
}

bool expected(const std::string& outcome) {
    return outcome == "decoded" || outcome == "refused" || outcome == "malformed";
}

// Inputs that once escaped as the wrong kind of error or misbehaved; kept as a fixed table.
TEST(DocumentFuzzTest, KeptInputs) {
    const std::string valid = samples::richDocument().encode();
    const std::string cases[] = {
        "",
        std::string(200000, '['),
        std::string(100000, '[') + std::string(100000, ']'),
        "{\"version\":2,\"metadata\":" + std::string(100000, '{') + "}",
        "{\"version\":1e999}",
        "{\"version\":-9223372036854775809}",
        "{\"version\":9223372036854775808}",
        "{\"version\":2.0000000000000001}",
        "{\"version\":null}",
        "\"\\ud800\"",
        std::string("{\"version\":2,\0}", 14),
        valid.substr(0, valid.size() - 1),
        valid + "x",
        valid + "{}",
    };
    for (const auto& input : cases) {
        const std::string outcome = exercise(input);
        EXPECT_TRUE(expected(outcome)) << outcome << " for " << input.substr(0, 80);
    }
}

// Byte-level mutations of a valid document: flips, cuts, inserted tokens.
TEST(DocumentFuzzTest, MutatedBytes) {
    const std::string valid = samples::richDocument().encode();
    const std::vector<std::string> tokens = {"null", "-0", "1e999", "-1e309", "true", "[]", "{}", "\"\"", "0.1",
                                             "131073", "\"\\u0000\"", "[[0,0],[1,1]]", ",", ":", "\"image\"",
                                             "18446744073709551616", "\"../x.png\""};
    std::mt19937 random(20260101);
    int decoded = 0;
    for (int round = 0; round < 3000; ++round) {
        std::string input = valid;
        const int edits = 1 + static_cast<int>(random() % 4);
        for (int e = 0; e < edits && !input.empty(); ++e) {
            const std::size_t at = random() % input.size();
            switch (random() % 4) {
            case 0: input[at] = static_cast<char>(random() % 256); break;
            case 1: input.erase(at, 1 + random() % 16); break;
            case 2: input.insert(at, tokens[random() % tokens.size()]); break;
            case 3: input.resize(at); break;
            }
        }
        const std::string outcome = exercise(input);
        ASSERT_TRUE(expected(outcome)) << outcome << " in round " << round;
        decoded += outcome == "decoded";
    }
    EXPECT_GT(decoded, 0);  // some mutations keep a valid document
}

// Structural mutations: a random member of the document replaced by a value of another type,
// or by an edge number, or removed.
TEST(DocumentFuzzTest, MutatedValues) {
    const Json valid = Json::parse(samples::richDocument().encode());
    const std::vector<Json> replacements = {nullptr, true, 0, -1, 1.5, 1e308, -1e308, 65537, 2000.5, "",
                                            "not a uuid", "sticker", Json::array(), Json::array({1, 2}),
                                            Json::array({Json::array({0, 0}), Json::array({0, 0})}),
                                            Json::object(), Json{{"red", 2}}};
    std::mt19937 random(77);
    for (int round = 0; round < 1500; ++round) {
        Json input = valid;
        // Walk down from the top to a random value.
        Json* node = &input;
        Json* parent = nullptr;
        std::string key;
        std::size_t index = 0;
        while ((node->is_object() || node->is_array()) && !node->empty() && random() % 4 != 0) {
            parent = node;
            if (node->is_object()) {
                auto it = node->begin();
                std::advance(it, static_cast<long>(random() % node->size()));
                key = it.key();
                node = &*it;
            } else {
                index = random() % node->size();
                key.clear();
                node = &(*node)[index];
            }
        }
        if (parent && parent->is_object() && random() % 5 == 0)
            parent->erase(key);
        else
            *node = replacements[random() % replacements.size()];
        const std::string outcome = exercise(input.dump());
        ASSERT_TRUE(expected(outcome)) << outcome << " in round " << round << ": " << input.dump().substr(0, 200);
    }
}

}  // namespace
}  // namespace brevalto

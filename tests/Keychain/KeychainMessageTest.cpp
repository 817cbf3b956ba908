#include "KeychainItems/KeychainMessage.h"

#include <gtest/gtest.h>

#include <random>

namespace brevalto {
namespace {

using Frame = std::vector<std::uint8_t>;

KeychainMessage sample() {
    KeychainMessage message;
    message.set("op", std::string("save"));
    message.set("service", std::string("app.brevalto.S3"));
    message.set("account", std::string(""));
    message.set("status", std::int64_t{-25300});
    message.set("data", KeychainData{0, 1, 0xff, 0});
    return message;
}

Frame encoded(const KeychainMessage& message) {
    auto frame = message.encode();
    EXPECT_TRUE(frame);
    return frame.value_or(Frame{});
}

std::optional<KeychainMessage> decoded(const Frame& frame) { return KeychainMessage::decode(frame.data(), frame.size()); }

TEST(KeychainMessage, RoundTripsEveryValueType) {
    for (bool expectsReply : {true, false}) {
        KeychainMessage message = sample();
        message.expectsReply = expectsReply;
        message.set("big", std::int64_t{INT64_MIN});
        message.set("nul", std::string("a\0b", 3));
        EXPECT_EQ(decoded(encoded(message)), message);
    }
    EXPECT_EQ(decoded(encoded(KeychainMessage{})), KeychainMessage{});
}

TEST(KeychainMessage, EncodingRefusesWhatBreaksABound) {
    struct Case {
        const char* name;
        std::function<void(KeychainMessage&)> change;
        bool encodes;
    };
    const std::vector<Case> cases = {
        {"key of 32 bytes", [](auto& m) { m.set(std::string(32, 'k'), std::int64_t{1}); }, true},
        {"key of 33 bytes", [](auto& m) { m.set(std::string(33, 'k'), std::int64_t{1}); }, false},
        {"empty key", [](auto& m) { m.set("", std::int64_t{1}); }, false},
        {"key with a space", [](auto& m) { m.set("a b", std::int64_t{1}); }, false},
        {"key with a control byte", [](auto& m) { m.set("a\nb", std::int64_t{1}); }, false},
        {"string of 4096 bytes", [](auto& m) { m.set("s", std::string(4096, 'x')); }, true},
        {"string of 4097 bytes", [](auto& m) { m.set("s", std::string(4097, 'x')); }, false},
        {"8 entries", [](auto& m) { for (int i = 0; i < 3; ++i) m.set("k" + std::to_string(i), std::int64_t{i}); }, true},
        {"9 entries", [](auto& m) { for (int i = 0; i < 4; ++i) m.set("k" + std::to_string(i), std::int64_t{i}); }, false},
        // The sample's frame is 85 bytes besides its data.
        {"data filling the frame", [](auto& m) { m.set("data", KeychainData(KeychainMessage::maxFrameBytes - 85)); }, true},
        {"data one byte past", [](auto& m) { m.set("data", KeychainData(KeychainMessage::maxFrameBytes - 84)); }, false},
    };
    for (const Case& test : cases) {
        KeychainMessage message = sample();
        test.change(message);
        auto frame = message.encode();
        EXPECT_EQ(frame.has_value(), test.encodes) << test.name;
        if (frame) {
            EXPECT_EQ(decoded(*frame), message) << test.name;
        }
    }
}

TEST(KeychainMessage, DecodingRefusesMalformedFrames) {
    const Frame valid = encoded(sample());
    auto changed = [&](std::size_t at, std::uint8_t value) {
        Frame frame = valid;
        frame[at] = value;
        return frame;
    };
    Frame duplicate = encoded(KeychainMessage{});
    duplicate[5] = 2;  // two entries, both "op"
    for (int i = 0; i < 2; ++i) duplicate.insert(duplicate.end(), {2, 'o', 'p', 2, 0, 0, 0, 0, 0, 0, 0, 1});
    Frame longString = encoded(KeychainMessage{});
    longString[5] = 1;
    longString.insert(longString.end(), {1, 's', 1, 0, 0, 0x10, 0x01});
    longString.resize(longString.size() + 4097, 'x');

    struct Case {
        const char* name;
        Frame frame;
    };
    std::vector<Case> cases = {
        {"empty", {}},
        {"wrong marker", changed(0, 'X')},
        {"unknown flag", changed(4, 0x02)},
        {"more entries than the bound", changed(5, 9)},
        {"more entries than present", changed(5, 6)},
        {"fewer entries than present", changed(5, 4)},
        {"zero-length key", changed(6, 0)},
        {"unknown type", changed(6 + 1 + 2, 9)},
        {"length past the end", changed(6 + 1 + 2 + 1, 0x7f)},
        {"trailing byte", [&] { Frame f = valid; f.push_back(0); return f; }()},
        {"duplicate key", duplicate},
        {"string above its bound", longString},
        {"frame above its bound", Frame(KeychainMessage::maxFrameBytes + 1, 0)},
    };
    for (std::size_t size = 0; size < valid.size(); ++size)
        cases.push_back({"truncated", Frame(valid.begin(), valid.begin() + static_cast<std::ptrdiff_t>(size))});
    for (const Case& test : cases) EXPECT_FALSE(decoded(test.frame)) << test.name << " " << test.frame.size();
}

TEST(KeychainMessage, RandomBytesNeverDecodeToSomethingElse) {
    std::mt19937 random(20260512);
    const Frame valid = encoded(sample());
    int decodedCount = 0;
    for (int round = 0; round < 20000; ++round) {
        Frame frame;
        if (round % 2 == 0) {
            frame.resize(random() % 64);
            for (auto& byte : frame) byte = static_cast<std::uint8_t>(random());
            if (frame.size() >= 6 && round % 4 == 0) std::copy_n("BKM1\1\1", 6, frame.begin());
        } else {
            frame = valid;  // a few flipped bytes in a real frame
            for (unsigned flips = 1 + random() % 3; flips > 0; --flips)
                frame[random() % frame.size()] = static_cast<std::uint8_t>(random());
        }
        if (auto message = decoded(frame)) {
            ++decodedCount;
            EXPECT_EQ(message->encode(), frame);  // canonical: nothing is read but what is there
        }
    }
    EXPECT_GT(decodedCount, 0);
}

}  // namespace
}  // namespace brevalto

// recognizeText over the real engines: text drawn by the test with known content, QR codes made by
// the test, and the inputs that must fail cleanly.
#include "AI/TextRecognition.h"
#include "ClipCore/SecretScanner.h"
#include "Errors/AIError.h"
#include "Imaging/ImageDecoding.h"
#include "Imaging/ImageLimits.h"
#include "Platform/AtomicFile.h"
#include "Platform/Linux/TesseractTextRecognizer.h"
#include "TestFolder.h"
#include "TextImages.h"

#include <QFile>
#include <QPainter>
#include <QTest>

#include <gtest/gtest.h>

#include <random>
#include <thread>

namespace brevalto {
namespace {

class TextRecognitionEngineTest : public ::testing::Test {
protected:
    QUrl save(const QImage& image, const std::string& name = "image.png") {
        const QString file = QString::fromStdString((folder / name).string());
        EXPECT_TRUE(image.save(file, "PNG"));
        return QUrl::fromLocalFile(file);
    }
    QUrl write(const QByteArray& bytes, const std::string& name) {
        const QString file = QString::fromStdString((folder / name).string());
        QFile out(file);
        EXPECT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(bytes);
        return QUrl::fromLocalFile(file);
    }
    OCRResult recognize(const QUrl& url, const QString& language = QStringLiteral("auto"),
                        std::optional<QRectF> region = std::nullopt) {
        return recognizeText(recognizer, url, language, region, std::stop_token());
    }
    // The error text a recognition throws, empty when it succeeds.
    std::string failure(const QUrl& url, const QString& language = QStringLiteral("auto")) {
        try {
            recognize(url, language);
        } catch (const std::exception& e) {
            return e.what();
        }
        return {};
    }

    TestFolder folder;
    TesseractTextRecognizer recognizer;
};

// The normalised lower-left box of a pixel rectangle, as the result gives it.
QRectF normalisedRect(const QRect& r, QSize size) {
    return QRectF(double(r.x()) / size.width(), 1.0 - double(r.y() + r.height()) / size.height(),
                  double(r.width()) / size.width(), double(r.height()) / size.height());
}

std::uint32_t crc32(const QByteArray& bytes) {
    std::uint32_t crc = 0xffffffffu;
    for (const char c : bytes) {
        crc ^= static_cast<unsigned char>(c);
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

QByteArray pngChunk(const char* type, const QByteArray& data) {
    const QByteArray body = QByteArray(type) + data;
    QByteArray chunk;
    const auto bigEndian = [&chunk](std::uint32_t v) {
        for (int shift = 24; shift >= 0; shift -= 8) chunk += char((v >> shift) & 0xff);
    };
    bigEndian(static_cast<std::uint32_t>(data.size()));
    chunk += body;
    bigEndian(crc32(body));
    return chunk;
}

void expectNear(const QRectF& actual, const QRectF& expected, QSize size, double pixels) {
    const double tx = pixels / size.width(), ty = pixels / size.height();
    EXPECT_NEAR(actual.left(), expected.left(), tx);
    EXPECT_NEAR(actual.right(), expected.right(), tx);
    EXPECT_NEAR(actual.top(), expected.top(), ty);
    EXPECT_NEAR(actual.bottom(), expected.bottom(), ty);
}

TEST_F(TextRecognitionEngineTest, LanguagesAreTheInstalledDataInTableOrder) {
    const std::vector<QString> expected = {"en-US", "fr-FR", "de-DE", "zh-Hans", "ko-KR", "ja-JP", "vi-VN"};
    EXPECT_EQ(supportedOCRLanguages(recognizer), expected);

    TestFolder empty;
    TesseractTextRecognizer none(empty.path());
    EXPECT_TRUE(none.supportedLanguages().empty());
    const QUrl code = save(qrCodeImage("https://example.com/a"), "code.png");
    EXPECT_THROW(none.readText(QImage(4, 4, QImage::Format_RGB32), QRect(0, 0, 4, 4), {"en-US"}, {}),
                 std::invalid_argument);
    // Without text data automatic mode still reads QR codes.
    EXPECT_EQ(recognizeText(none, code, "auto", std::nullopt, {}).qrPayloads, QStringList{"https://example.com/a"});
}

TEST_F(TextRecognitionEngineTest, EnglishLinesComeBackWithTheirBoxes) {
    const QStringList lines = {"The quick brown fox jumps over the lazy dog.",
                               "Invoice 4721 is due on 31 December, total 1234.56 euros.",
                               "Settings are saved when the window closes."};
    for (const int pixelSize : {11, 16}) {  // small on-screen text and ordinary text
        SCOPED_TRACE(pixelSize);
        const auto text = renderTextLines(QSize(900, 200), lines, pixelFont("DejaVu Sans", pixelSize));
        const OCRResult result = recognize(save(text.image), "en-US");
        ASSERT_EQ(result.regions.size(), 3u) << result.text.toStdString();
        for (int i = 0; i < 3; ++i) {
            EXPECT_LE(editDistance(result.regions[i].text, lines[i]), 2) << result.regions[i].text.toStdString();
            expectNear(result.regions[i].bounds, normalisedRect(text.lineRects[i], text.image.size()),
                       text.image.size(), 6);
            EXPECT_GT(result.regions[i].confidence, 0.6f);
            EXPECT_LE(result.regions[i].confidence, 1.0f);
        }
        EXPECT_EQ(result.text, result.regions[0].text + "\n" + result.regions[1].text + "\n" + result.regions[2].text);
        EXPECT_EQ(result.uncertainLines, 0);
        EXPECT_TRUE(result.qrPayloads.isEmpty());
    }
}

TEST_F(TextRecognitionEngineTest, JapaneseLinesReadWithoutSpacesBetweenCharacters) {
    const QStringList lines = {QStringLiteral("東京都の天気は晴れです。"), QStringLiteral("明日は雨が降るでしょう。")};
    const auto text = renderTextLines(QSize(500, 120), lines, pixelFont("Noto Sans CJK JP", 22));
    const QUrl url = save(text.image);
    // Alone, and in automatic mode, where English is read first.
    for (const QString language : {"ja-JP", "auto"}) {
        SCOPED_TRACE(language.toStdString());
        const OCRResult result = recognize(url, language);
        ASSERT_EQ(result.regions.size(), 2u) << result.text.toStdString();
        for (int i = 0; i < 2; ++i) {
            EXPECT_LE(editDistance(result.regions[i].text, lines[i]), 1) << result.regions[i].text.toStdString();
            expectNear(result.regions[i].bounds, normalisedRect(text.lineRects[i], text.image.size()),
                       text.image.size(), 4);
        }
    }
}

TEST_F(TextRecognitionEngineTest, SecretRectanglesCoverTheDrawnSecrets) {
    const QStringList lines = {"Write to alice@example.com or bob@example.org today.", "Nothing secret here."};
    const auto text = renderTextLines(QSize(800, 120), lines, pixelFont("DejaVu Sans", 16));
    // A region above the second line: boxes are still relative to the whole image.
    const double top = 1.0 - (text.lineRects[1].top() - 3) / 120.0;
    const OCRResult result = recognize(save(text.image), "en-US", QRectF(0, top, 1, 1 - top));
    ASSERT_EQ(result.regions.size(), 1u) << result.text.toStdString();
    ASSERT_EQ(result.secrets.size(), 2u) << result.text.toStdString();
    const QString& line = lines[0];
    const int first = line.indexOf("alice"), second = line.indexOf("bob");
    const QRect drawn[] = {characterRect(text, 0, first, int(strlen("alice@example.com"))),
                           characterRect(text, 0, second, int(strlen("bob@example.org")))};
    for (int i = 0; i < 2; ++i) {
        expectNear(result.secrets[i], normalisedRect(drawn[i], text.image.size()), text.image.size(), 4);
    }
    expectNear(result.regions[0].bounds, normalisedRect(text.lineRects[0], text.image.size()), text.image.size(), 4);
}

// A photographed private key whose markers are smudged and misread. In a larger font the engine
// reads the header's dashes as one dash and an em dash, puts spaces into the body lines and drops
// the END line, which it takes for a rule; in a smaller one, with the whole header word covered,
// only the END line marks the key. Either way the body lines, as the engine reads them, are
// masked and boxed, and the prose after the key is not.
TEST_F(TextRecognitionEngineTest, AKeyWhoseMarkersAreMisreadIsMaskedAndBoxed) {
    std::mt19937 random(71);
    const char* const alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    // An ed25519 key as ssh-keygen writes it: its first line is all fixed fields, the format's
    // name, "none" twice and lengths whose zero bytes read as runs of 'A'.
    QStringList body{QStringLiteral("b3BlbnNzaC1rZXktdjEAAAAABG5vbmUAAAAEbm9uZQAAAAAAAAABAAAAMwAAAAtzc2gtZW")};
    for (int i = 1; i < 6; ++i) {
        QString line;
        for (int k = 0; k < 70; ++k) line += QLatin1Char(alphabet[random() % 64]);
        body << line;
    }
    const QStringList lines = QStringList{QStringLiteral("-----BEG1N OPENSSH PR1VATE KEY\u2014\u2014")} + body +
                              QStringList{"-----END OPENSSH PRIVATE KEY-----", "Thanks for the help today."};
    const struct {
        const char* family;
        int pixels, thumb;
        bool footerRead;
    } layouts[] = {{"DejaVu Sans Mono", 16, 60, false}, {"Liberation Mono", 12, 100, true}};
    for (const auto& layout : layouts) {
        SCOPED_TRACE(layout.family);
        auto text = renderTextLines(QSize(1200, 400), lines, pixelFont(layout.family, layout.pixels), 20, 8);
        {
            // A thumb over the start of the header.
            QPainter painter(&text.image);
            painter.fillRect(text.lineRects[0].adjusted(-2, -3, 0, 3).intersected(QRect(0, 0, layout.thumb, 400)),
                             QColor(205, 190, 175));
        }
        const OCRResult result = recognize(save(text.image), "en-US");
        const std::string read = result.text.toStdString();
        SCOPED_TRACE("read:\n" + read);
        ASSERT_EQ(result.text.indexOf("-----BEGIN"), -1) << "the header is meant to be unreadable";
        if (layout.footerRead) ASSERT_EQ(result.text.indexOf("BEGIN"), -1);
        ASSERT_EQ(result.text.contains("END OPENSSH PRIVATE KEY"), layout.footerRead);
        const std::string masked = SecretScanner::masked(read);
        for (const QString& line : body) {
            const std::string drawn = line.toStdString();
            bool wasRead = false;
            for (std::size_t at = 0; at + 8 <= drawn.size(); ++at) {
                const std::string run = drawn.substr(at, 8);
                wasRead = wasRead || read.find(run) != std::string::npos;
                EXPECT_EQ(masked.find(run), std::string::npos) << run << " left in clear:\n" << masked;
            }
            EXPECT_TRUE(wasRead) << "the engine did not read " << drawn;
        }
        EXPECT_NE(masked.find("Thanks for the help today."), std::string::npos) << masked;
        // A box over every body line and the END line when it was read, none over the prose.
        auto boxed = [&](int index) {
            const QRectF drawn = normalisedRect(text.lineRects[index], text.image.size());
            return std::any_of(result.secrets.begin(), result.secrets.end(), [&](const QRectF& box) {
                return box.intersects(drawn) && box.center().y() > drawn.top() && box.center().y() < drawn.bottom();
            });
        };
        for (int i = 1; i <= 6; ++i) EXPECT_TRUE(boxed(i)) << lines[i].toStdString();
        EXPECT_EQ(boxed(7), layout.footerRead);
        EXPECT_FALSE(boxed(8));
    }
}

TEST_F(TextRecognitionEngineTest, TextOnTransparentBackgroundIsRead) {
    QImage image(400, 60, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setFont(pixelFont("DejaVu Sans", 18));
    painter.setPen(Qt::black);
    painter.drawText(QPoint(20, 38), "Transparent background");
    painter.end();
    EXPECT_LE(editDistance(recognize(save(image)).text, "Transparent background"), 1);
}

TEST_F(TextRecognitionEngineTest, QRCodesMadeByTheTest) {
    const QImage one = qrCodeImage("https://example.com/b");
    const QImage other = qrCodeImage("https://example.com/a");
    QImage two(one.width() * 2 + 40, one.height(), QImage::Format_RGB32);
    two.fill(Qt::white);
    QPainter painter(&two);
    painter.drawImage(0, 0, one);
    painter.drawImage(one.width() + 40, 0, one);
    painter.end();
    QImage both = two.copy();
    painter.begin(&both);
    painter.drawImage(one.width() + 40, 0, other);
    painter.end();

    // Only a code: no text, no lines, nothing uncertain, and no failure.
    const OCRResult only = recognize(save(one, "one.png"));
    EXPECT_EQ(only.qrPayloads, QStringList{"https://example.com/b"});
    EXPECT_TRUE(only.text.isEmpty());
    EXPECT_TRUE(only.regions.empty());
    EXPECT_EQ(only.uncertainLines, 0);
    EXPECT_EQ(recognize(save(two, "two.png")).qrPayloads, QStringList{"https://example.com/b"});
    EXPECT_EQ(recognize(save(both, "both.png")).qrPayloads,
              (QStringList{"https://example.com/a", "https://example.com/b"}));
    // A region around the second code alone.
    EXPECT_EQ(recognize(save(both, "both.png"), "auto", QRectF(0.5, 0, 0.5, 1)).qrPayloads,
              QStringList{"https://example.com/a"});

    // A code of binary bytes carries no text payload. (The engine may take its modules for
    // letters, so the image may yet have text.)
    const std::string bytes("\x00\x01\xfe\xff\x80\x7f binary", 12);
    const QImage binary = qrCodeImage(bytes, 6, true);
    try {
        EXPECT_TRUE(recognize(save(binary, "binary.png")).qrPayloads.isEmpty());
    } catch (const AIError& e) {
        EXPECT_EQ(e.message(), kOCRNoTextMessage);
    }
}

TEST_F(TextRecognitionEngineTest, BadInputFailsWithTheRightError) {
    raiseImageAllocationLimit();
    // A PNG header that claims 10,000 x 10,000 pixels, followed by no usable image data: refused
    // by its stated size before anything is decoded.
    const QByteArray huge = QByteArray::fromHex("89504e470d0a1a0a") +
                            pngChunk("IHDR", QByteArray::fromHex("00002710000027100802000000")) +
                            pngChunk("IDAT", QByteArray(16, '\0')) + pngChunk("IEND", {});
    EXPECT_EQ(failure(write(huge, "huge.png")), kInvalidImageSizeMessage);
    EXPECT_EQ(failure(write("this is not an image", "notes.png")), kUnreadableImageMessage);
    EXPECT_EQ(failure(write("", "empty.png")), kUnreadableImageMessage);
    EXPECT_THROW(recognize(QUrl::fromLocalFile(QString::fromStdString((folder / "missing.png").string()))), FileError);
    QImage dot(1, 1, QImage::Format_RGB32);
    dot.fill(Qt::white);
    EXPECT_EQ(failure(save(dot, "dot.png")), kOCRNoTextMessage);
    EXPECT_EQ(failure(save(dot, "dot.png"), "xx-XX"), kOCRLanguageMessage);
    QImage blank(640, 480, QImage::Format_RGB32);
    blank.fill(Qt::white);
    EXPECT_EQ(failure(save(blank, "blank.png")), kOCRNoTextMessage);
}

// A page of two columns and many lines is read in parts by several engines at once: the lines,
// their boxes and their order are exactly those of one engine reading the parts in turn, and
// they are the lines drawn.
TEST_F(TextRecognitionEngineTest, APageReadByManyEnginesReadsAsByOne) {
    QStringList left, right;
    for (int i = 0; i < 14; ++i) {
        left << QStringLiteral("Left column line %1 holds ordinary words.").arg(i);
        right << QStringLiteral("Right side %1: settings, history and notes.").arg(i);
    }
    QImage page(1400, 520, QImage::Format_RGB32);
    page.fill(Qt::white);
    {
        QPainter painter(&page);
        painter.drawImage(0, 0, renderTextLines(QSize(640, 520), left, pixelFont("DejaVu Sans", 13)).image);
        painter.drawImage(760, 0, renderTextLines(QSize(640, 520), right, pixelFont("DejaVu Sans", 13)).image);
    }
    TesseractTextRecognizer one(TesseractTextRecognizer::defaultDataFolder(), 1);
    TesseractTextRecognizer four(TesseractTextRecognizer::defaultDataFolder(), 4);
    const auto alone = one.readText(page, page.rect(), {"en-US"}, {});
    const auto together = four.readText(page, page.rect(), {"en-US"}, {});
    EXPECT_EQ(together, alone);
    EXPECT_GE(four.idleEngines(), 2) << "several engines read and were kept";
    ASSERT_EQ(alone.size(), 28u);
    for (int i = 0; i < 14; ++i) {
        EXPECT_LE(editDistance(QString::fromStdString(alone[i].text), left[i]), 1) << alone[i].text;
        EXPECT_LE(editDistance(QString::fromStdString(alone[14 + i].text), right[i]), 1) << alone[14 + i].text;
        EXPECT_TRUE(alone[14 + i].box.left() >= 760);
    }
}

TEST_F(TextRecognitionEngineTest, EnginesAreReusedAndACancelledOneIsDropped) {
    // One engine a page, so what the stop interrupts is that engine: with several, an engine
    // that finished its bands before the stop rightly goes back to the pool.
    TesseractTextRecognizer recognizer(TesseractTextRecognizer::defaultDataFolder(), 1);
    auto recognize = [&](const QUrl& url, const char* language) {
        return recognizeText(recognizer, url, QString::fromLatin1(language), std::nullopt, std::stop_token());
    };
    // A page long enough to be still in the engine when the stop comes, however idle the machine.
    QStringList many;
    for (int i = 0; i < 80; ++i) many << QStringLiteral("Line %1 of a long page of ordinary words to read").arg(i);
    const auto page = renderTextLines(QSize(1200, 2000), many, pixelFont("DejaVu Sans", 16), 20, 4);
    const QUrl url = save(page.image, "page.png");
    const auto small = renderTextLines(QSize(300, 60), {"Hello there"}, pixelFont("DejaVu Sans", 16));
    const QUrl hello = save(small.image, "hello.png");

    EXPECT_EQ(recognize(hello, "en-US").text, "Hello there");
    EXPECT_EQ(recognize(hello, "en-US").text, "Hello there");
    EXPECT_EQ(recognizer.idleEngines(), 1);
    recognize(hello, "auto");
    EXPECT_EQ(recognizer.idleEngines(), 2);

    // Cancelled while the engine reads the page: the error is the cancellation, the engines
    // taken are not put back, and the next recognition starts a fresh one.
    std::stop_source stop;
    std::thread canceller;
    std::exception_ptr error;
    std::thread worker([&] {
        try {
            recognizeText(recognizer, url, "fr-FR", std::nullopt, stop.get_token());
        } catch (...) {
            error = std::current_exception();
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    stop.request_stop();
    worker.join();
    ASSERT_TRUE(error);
    EXPECT_THROW(std::rethrow_exception(error), RecognitionCancelled);
    EXPECT_EQ(recognizer.idleEngines(), 2);
    EXPECT_EQ(recognize(hello, "fr-FR").text, "Hello there");
    EXPECT_EQ(recognizer.idleEngines(), 3);
}

// Idle engines go a while after the last recognition, not while recognitions keep coming.
TEST_F(TextRecognitionEngineTest, IdleEnginesAreLetGoAfterAWhile) {
    TesseractTextRecognizer recognizer(TesseractTextRecognizer::defaultDataFolder(), 1, std::chrono::milliseconds(600));
    const auto small = renderTextLines(QSize(300, 60), {"Hello there"}, pixelFont("DejaVu Sans", 16));
    const QUrl hello = save(small.image, "hello.png");
    const auto recognize = [&] { return recognizeText(recognizer, hello, "en-US", std::nullopt, std::stop_token()).text; };
    const auto idleAfter = [&](int milliseconds) {
        QTest::qWait(milliseconds);
        return recognizer.idleEngines();
    };
    EXPECT_EQ(recognize(), "Hello there");
    EXPECT_EQ(idleAfter(200), 1);
    EXPECT_EQ(recognize(), "Hello there");
    EXPECT_EQ(idleAfter(300), 1) << "the second recognition put the release off";
    EXPECT_EQ(idleAfter(1500), 0);
    EXPECT_EQ(recognize(), "Hello there") << "a fresh engine starts";
}

// A screenshot of a dark desktop with two windows of small text: a terminal whose lines run in
// blocks longer than one engine reads, and a window whose labels start right at its frame. Every
// line is found, in reading order, and several engines read it as one does.
TEST_F(TextRecognitionEngineTest, EveryLineOfTwoWindowsOnADarkDesktopIsRead) {
    QStringList terminal;
    const char* const steps[] = {"fetching", "compiling", "linking", "testing"};
    for (int i = 1; i <= 12; ++i)
        terminal << QStringLiteral("The %1 step of stage %2 took %3 seconds").arg(steps[i % 4]).arg(i * 7).arg(i * 13);
    terminal << QStringLiteral("Receipt 8823 paid in full") << QStringLiteral("Customer Alvarez")
             << QStringLiteral("Total amount 129.50 dollars");
    const QStringList labels = {"Invoice summary for December", "Receipt 8823 paid in full", "Customer Alvarez",
                                "Order 4410 shipped to Lisbon", "Balance due 0.00 EUR"};
    QImage screen(1920, 1080, QImage::Format_RGB32);
    screen.fill(Qt::black);
    {
        QPainter painter(&screen);
        const auto window = [&](const QRect& frame, const QColor& background, const TextImage& text, QPoint at) {
            painter.fillRect(frame.adjusted(0, -18, 0, 0), QColor(90, 120, 170));
            painter.fillRect(frame, background);
            painter.drawImage(at, text.image);
        };
        TextImage shell = renderTextLines(QSize(540, 300), terminal, pixelFont("DejaVu Sans", 11), 2, 3);
        window(QRect(40, 80, 545, 400), Qt::white, shell, QPoint(42, 82));
        TextImage gtk = renderTextLines(QSize(520, 140), labels, pixelFont("DejaVu Sans", 13), 1, 10);
        // Dark grey on light grey, as a GTK theme draws its labels.
        gtk.image = gtk.image.convertToFormat(QImage::Format_RGB32);
        for (int y = 0; y < gtk.image.height(); ++y) {
            auto* row = reinterpret_cast<QRgb*>(gtk.image.scanLine(y));
            for (int x = 0; x < gtk.image.width(); ++x) {
                const int v = qGray(row[x]);
                const auto mix = [v](int ink, int paper) { return ink + (paper - ink) * v / 255; };
                row[x] = qRgb(mix(46, 246), mix(52, 245), mix(54, 244));
            }
        }
        window(QRect(900, 320, 700, 400), QColor(246, 245, 244), gtk, QPoint(901, 321));
    }
    const QStringList expected = terminal + labels;
    for (const int workers : {1, 4}) {
        TesseractTextRecognizer recognizer(TesseractTextRecognizer::defaultDataFolder(), workers);
        QStringList read;
        for (const auto& line : recognizer.readText(screen, screen.rect(), {"en-US"}, {}))
            read << QString::fromStdString(line.text);
        ASSERT_EQ(read.size(), expected.size()) << workers << " engines read:\n" << read.join('\n').toStdString();
        for (int i = 0; i < read.size(); ++i) EXPECT_LE(editDistance(read[i], expected[i]), 1) << read[i].toStdString();
    }
}

}  // namespace
}  // namespace brevalto

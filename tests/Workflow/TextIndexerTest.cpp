// The background text indexing of history images over a real store and a recognizer the test
// answers by hand.
#include "ClipCore/Clip.h"
#include "Clipboard/ClipStore.h"
#include "AI/TextRecognition.h"
#include "Errors/AIError.h"
#include "Platform/TextRecognizer.h"
#include "Workflow/TextIndexer.h"

#include "ManualAIBackend.h"
#include "QtWait.h"
#include "TestFolder.h"

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTimer>

namespace brevalto {
namespace {

namespace fs = std::filesystem;

Clip image(char digit, bool withFile = true, std::optional<std::string> ocr = std::nullopt) {
    const std::string name(64, digit);
    Clip clip(Clip::Kind::image, std::nullopt, withFile ? std::optional(name + ".png") : std::nullopt, name, 3, "test",
              800'000'000.0);
    if (ocr) clip.ocrText = *ocr;
    return clip;
}

OCRResult recognized(const QString& text) {
    OCRResult result;
    result.text = text;
    return result;
}

Clip text(const std::string& value) {
    return Clip(Clip::Kind::text, value, std::nullopt, hexDigest(value), static_cast<std::int64_t>(value.size()), "test",
                800'000'000.0);
}

class TextIndexerTest : public ::testing::Test {
protected:
    TextIndexerTest() {
        indexer.setRecognize([this](QObject* receiver, const QUrl& file, const QString& language, auto done) {
            return ai.recognize(receiver, file, language, std::move(done));
        });
    }
    void history(const std::vector<Clip>& clips) {
        store.commit(clips);
        store.flush();
    }
    std::optional<std::string> ocrOf(const Clip& clip) const {
        for (const Clip& c : store.current())
            if (c.id == clip.id) return c.ocrText ? std::optional(std::string(*c.ocrText)) : std::nullopt;
        return std::nullopt;
    }
    QUrl fileOf(const Clip& clip) const {
        return QUrl::fromLocalFile(QString::fromStdString((store.root() / *clip.imageFile).string()));
    }
    // Lets queued steps run, without waiting for anything in particular.
    static void settle() {
        for (int i = 0; i < 20; ++i) QCoreApplication::processEvents();
    }

    TestFolder folder;
    ClipStore store{folder.path()};
    ManualAIBackend ai;
    TextIndexer indexer{store};
    QSignalSpy finished{&indexer, &TextIndexer::finished};
};

TEST_F(TextIndexerTest, OneRunIndexesImagesInListOrderAndCountsFailuresAsIndexed) {
    const Clip first = image('a'), fileless = image('b', false), done = image('c', true, "kept"), last = image('d');
    history({first, text("words"), fileless, done, last});

    indexer.schedule();
    indexer.schedule();  // one run at a time
    ASSERT_EQ(ai.jobs.size(), 1u);
    EXPECT_EQ(ai.last().file, fileOf(first));
    EXPECT_EQ(ai.last().language, "auto");
    ai.last().finish(recognized(QStringLiteral("Invoice 4711")));
    settle();
    // The clip without a file gets the empty text without a recognition; the indexed one is left.
    ASSERT_EQ(ai.jobs.size(), 2u);
    EXPECT_EQ(ai.last().file, fileOf(last));
    ai.last().fail(AIError(kOCRNoTextMessage));
    settle();

    EXPECT_FALSE(indexer.running());
    EXPECT_EQ(finished.count(), 1);
    EXPECT_EQ(ai.jobs.size(), 2u);
    EXPECT_EQ(ocrOf(first), "Invoice 4711");
    EXPECT_EQ(ocrOf(fileless), "");
    EXPECT_EQ(ocrOf(done), "kept");
    EXPECT_EQ(ocrOf(last), "") << "a failed recognition is not tried again";

    // Everything is indexed now, and a history of text clips has nothing to do: the run ends at once.
    store.flush();
    indexer.schedule();
    EXPECT_FALSE(indexer.running());
    history({text("only"), text("texts")});
    indexer.schedule();
    EXPECT_FALSE(indexer.running());
    EXPECT_EQ(finished.count(), 3);
    EXPECT_EQ(ai.jobs.size(), 2u);
}

TEST_F(TextIndexerTest, CancellingStoresNothingForTheClipBeingRecognised) {
    const Clip first = image('a'), second = image('b');
    history({first, second});
    ai.honourCancel = false;  // the late outcome still arrives: only the indexer may drop it

    indexer.schedule();
    ASSERT_EQ(ai.jobs.size(), 1u);
    indexer.cancel();
    EXPECT_TRUE(ai.last().stop->stop_requested());
    ai.last().finish(recognized(QStringLiteral("late")));
    settle();
    EXPECT_FALSE(indexer.running());
    EXPECT_EQ(ocrOf(first), std::nullopt);

    // The recognizer's own cancellation ends the run the same way; the next run starts over.
    indexer.schedule();
    ASSERT_EQ(ai.jobs.size(), 2u);
    EXPECT_EQ(ai.last().file, fileOf(first));
    ai.last().fail(RecognitionCancelled());
    settle();
    EXPECT_FALSE(indexer.running());
    EXPECT_EQ(ai.jobs.size(), 2u);
    EXPECT_EQ(ocrOf(first), std::nullopt);
    EXPECT_EQ(ocrOf(second), std::nullopt);
}

// A store that never takes the text (its writes fail) must not make the run find the same clips
// again and again: each is handled once, and the GUI thread stays free throughout.
TEST_F(TextIndexerTest, AStoreThatDoesNotUpdateEndsTheRunAfterOnePass) {
    const Clip fileless = image('a', false), first = image('b'), second = image('c');
    history({fileless, first, second});
    fs::remove(store.root() / ClipStore::kIndexFileName);
    fs::create_directories(store.root() / ClipStore::kIndexFileName / "blocker");

    bool ticked = false;
    QTimer::singleShot(0, [&] { ticked = true; });
    indexer.schedule();
    std::size_t answered = 0;
    for (int i = 0; i < 50; ++i) {
        store.flush();  // each failed write is applied at once: the store never holds a stored text
        if (ai.jobs.size() > answered) ai.jobs[answered++]->finish(recognized(QStringLiteral("text")));
        QCoreApplication::processEvents();
    }

    EXPECT_TRUE(ticked);
    EXPECT_FALSE(indexer.running());
    ASSERT_EQ(ai.jobs.size(), 2u);
    EXPECT_EQ(ai.jobs[0]->file, fileOf(first));
    EXPECT_EQ(ai.jobs[1]->file, fileOf(second));
    EXPECT_EQ(finished.count(), 1);
    EXPECT_EQ(ocrOf(first), std::nullopt);
    EXPECT_TRUE(store.message().startsWith("Could not update history: ")) << store.message().toStdString();
}

}  // namespace
}  // namespace brevalto

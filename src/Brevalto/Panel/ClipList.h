#pragma once

#include "ClipCore/Clip.h"
#include "ClipCore/Uuid.h"

#include "Platform/Task.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace brevalto {

// The filter chips of the clip browser, in the order of their segments.
inline const QStringList kClipFilters = {QStringLiteral("All"), QStringLiteral("Text"), QStringLiteral("Images"),
                                         QStringLiteral("Pinned")};

// Whether the filter chip admits the clip ("All", "Pinned", "Text", "Images"; any other string
// admits nothing).
bool filterAdmits(const QString& filter, const Clip& clip);

// A case- and diacritic-insensitive, locale-aware substring search for one query: the locale's
// collation compared at primary strength, so "cafe" finds "Café" and "STRASSE" finds "straße".
// The query is used exactly as typed (blanks take part). Results are remembered per clip for as
// long as the query stays the same, so redrawing the list does not search the texts again.
//
// Collation-aware search reads about ten megabytes a second, so clips with more than 64 KiB of
// text are searched on worker threads: until their answer arrives they count as not matching,
// and `decided` runs (on the GUI thread) whenever answers arrive. A new query drops the work of
// the old one.
class ClipSearch {
public:
    static constexpr std::size_t kInlineBytes = 64 * 1024;

    explicit ClipSearch(std::function<void()> decided = {});
    ~ClipSearch();
    ClipSearch(const ClipSearch&) = delete;
    ClipSearch& operator=(const ClipSearch&) = delete;

    // Whether the clip passes the filter and the query: the first of its text (or "Image" when
    // it has none), its recognised text and its source that contains the query.
    bool matchesFilter(const Clip& clip, const QString& filter, const QString& query);
    // The clips that match, pinned first, newest first within each group; ties keep their order.
    std::vector<Clip> visibleClips(const std::vector<Clip>& items, const QString& filter, const QString& query);
    // The same as pointers into `items`, copying no clip.
    std::vector<const Clip*> visible(const std::vector<Clip>& items, const QString& filter, const QString& query);
    // Whether answers for large clips of the current query are still being worked out.
    bool searching() const { return !pending_.empty(); }

    // Whether the UTF-8 text contains the query (false for an empty query). Any thread.
    static bool contains(std::string_view text, const QString& query);

    struct Engine;

private:
    void prepare(const QString& query);
    void searchInBackground();
    std::unique_ptr<Engine> engine_;
    QString query_;
    struct Remembered {
        std::optional<std::size_t> ocrLength;
        bool matches;
    };
    std::unordered_map<Uuid, Remembered> remembered_;
    // A large clip to search on a worker thread (its texts are shared, not copied).
    struct Job {
        Clip clip;
        std::optional<std::size_t> ocrLength;
    };
    std::vector<Job> queued_;
    std::unordered_map<Uuid, bool> pending_;
    std::vector<TaskHandle> work_;
    std::function<void()> decided_;
    QObject receiver_;
};

// The clip that Return, the action bar and the preview pane act on: the selected visible clip,
// else the first visible clip, else none.
std::optional<Clip> currentClip(const std::vector<Clip>& visible, const std::optional<Uuid>& selected);

// The actions on one history item, in this order.
enum class ItemAction { copy, paste, edit, ocr, upload, float_, ai, pin, preview, delete_ };

// The actions a card offers for a kind of clip, in display order (ten for images, six for text).
const std::vector<ItemAction>& itemActions(Clip::Kind kind);

// How many of n actions fit inline in an action row `width` points wide (24-point buttons two
// points apart); when not all fit, one 24-point place goes to the overflow menu.
int cardActionCount(int n, double width);

}  // namespace brevalto

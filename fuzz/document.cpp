// "document.json" of an edited screenshot: ScreenshotDocument::decode, as the editor opens it.
// Properties: a refusal is ScreenshotDocumentFormatError (the wrong form) or ScreenshotError (a
// broken rule); a decoded document passes the validation that bounds every count, length, size and
// number, and encodes to text that decodes to an equal document, which encodes to the same text.

#include "Document/DocumentValidation.h"
#include "Document/ScreenshotDocument.h"
#include "Errors/ScreenshotError.h"
#include "FuzzSupport.h"

using namespace brevalto;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::optional<ScreenshotDocument> document;
    try {
        document = ScreenshotDocument::decode(fuzz::text(data, size));
    } catch (const ScreenshotDocumentFormatError&) {
        return 0;
    } catch (const ScreenshotError&) {
        return 0;
    } catch (const std::exception& error) {
        fuzz::unexpected(error);
    }
    try {
        validateDocument(*document);
        const std::string encoded = document->encode();
        const ScreenshotDocument again = ScreenshotDocument::decode(encoded);
        fuzz::check(again == *document, "a decoded document does not survive a round trip");
        fuzz::check(again.encode() == encoded, "a document's encoding is not stable");
    } catch (const std::exception& error) {
        fuzz::unexpected(error);
    }
    return 0;
}

#include "Capture/CaptureError.h"

namespace brevalto {

const char* CaptureError::message(Kind kind) {
    switch (kind) {
    case Kind::permissionDenied:
        return "Screen capture needs an X11 display. Run Brevalto in an X11 session, then retry.";
    case Kind::invalidRegion: return "Select a nonempty region intersecting an available display.";
    case Kind::unavailableTarget: return "The display or window changed. Select the target again.";
    case Kind::busy: return "A capture is already active. Finish or cancel it first.";
    case Kind::tooLarge: return "Capture exceeds the 40-megapixel image budget. Select a smaller region.";
    case Kind::missingImage: return "The X server did not return a valid screenshot. Retry the capture.";
    }
    return "";
}

}  // namespace brevalto

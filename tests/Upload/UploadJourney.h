#pragma once

#include "AppJourney.h"

namespace brevalto {

// The journeys of uploads: the app's upload history and the clipboard as a user sees them.
class UploadJourney : public AppJourney {
protected:
    explicit UploadJourney(const std::string& name = "upload-journey") : AppJourney(name) {}

    nlohmann::json history() {
        try {
            return nlohmann::json::parse(AtomicFile::read(home_ / "data" / "brevalto" / "uploads.json", 1 << 20))["objects"];
        } catch (const std::exception&) {
            return nlohmann::json::array();
        }
    }
    void click(const QPoint& at) { run("xdotool", {"mousemove", QString::number(at.x()), QString::number(at.y()), "click", "1"}); }
    QString clipboard() { return run("xclip", {"-o", "-selection", "clipboard"}); }
    // A region capture through its hot key, dragged and confirmed; returns the thumbnail's corner.
    QPoint captureRegionToThumbnail() {
        keys({"super+shift+ctrl+2"});
        QThread::msleep(1500);
        run("xdotool", {"mousemove", "600", "300", "mousedown", "1", "mousemove", "800", "400", "mousemove", "1000",
                        "600", "mouseup", "1"});
        keys({"Return"});
        EXPECT_TRUE(waitUntil([&] { return !window("^Screenshot$").isEmpty(); }, 10000)) << "no thumbnail";
        QThread::msleep(500);
        return origin(window("^Screenshot$"));
    }
};

}  // namespace brevalto

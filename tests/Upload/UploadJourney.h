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
};

}  // namespace brevalto

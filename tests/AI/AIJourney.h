#pragma once

#include "Platform/AtomicFile.h"

#include "AppJourney.h"
#include "StandIns.h"

#include <QRect>
#include <QRegularExpression>
#include <QThread>

#include <nlohmann/json.hpp>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace brevalto {

// The app journeys of the AI features: the panel window clicked at points given from its top-left
// corner, the requests a Messages API stand-in received, the history as the app wrote it, and the
// API key saved the way a user saves it, on the settings' AI page.
class AIJourney : public AppJourney {
protected:
    using AppJourney::AppJourney;

    // Starts the app with api.anthropic.com reaching `api` through the TLS proxy stand-in.
    void startAppWith(const MessagesApiStandIn& api) {
        ASSERT_TRUE(api.running());
        proxy_.emplace(standIns_ / "proxy", std::map<std::string, std::uint16_t>{{"api.anthropic.com", api.port()}});
        ASSERT_TRUE(proxy_->running());
        proxy_->addTo(env_);
        startApp();
    }

    // A window's place and size on the screen.
    QRect geometry(const QString& window) {
        const QString info = run("xwininfo", {"-id", window});
        auto value = [&](const char* label) {
            return QRegularExpression(QString::fromLatin1(label) + QStringLiteral(":\\s+(-?\\d+)")).match(info).captured(1).toInt();
        };
        return {value("Absolute upper-left X"), value("Absolute upper-left Y"), value("Width"), value("Height")};
    }
    void clickPanel(QPoint at) {
        const QPoint point = geometry(window("^Brevalto$")).topLeft() + at;
        run("xdotool", {"mousemove", QString::number(point.x()), QString::number(point.y()), "click", "1"});
    }
    static std::vector<nlohmann::json> received(const MessagesApiStandIn& api, const std::string& method) {
        std::vector<nlohmann::json> found;
        for (const auto& request : api.requests())
            if (request["method"] == method) found.push_back(request);
        return found;
    }
    // The history file, empty while there is none.
    std::string history() {
        try {
            return AtomicFile::read(home_ / "data" / "brevalto" / "history.json", 1 << 20);
        } catch (const std::exception&) {
            return {};
        }
    }
    // Types `key` into the AI page's key field, saves it and closes the settings again.
    void saveKey(const QString& key) {
        const QString settings = openSettings(3);
        keys({"Tab", "Tab", "Tab"});  // the page's scroll area, the provider, the key field
        type(key);
        keys({"Tab", "space"});  // Save key
        QThread::msleep(1500);
        run("xdotool", {"windowclose", settings});
    }

private:
    std::optional<TlsProxyStandIn> proxy_;
};

}  // namespace brevalto

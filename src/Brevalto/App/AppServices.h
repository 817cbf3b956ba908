#pragma once

#include "Automation/AutomationDispatcher.h"

#include <memory>

namespace brevalto {

class AIActionServices;
class ClaudeService;
class CloudflareTokenSource;
class ClipStore;
class ClipboardMonitor;
class PanelController;
class S3UploadController;
class ScreenshotWorkflow;
struct AppEnvironment;

// The app's long-lived objects, built in launch order, each given what it needs at construction:
// the history, the clipboard monitor, the notch panel, the screenshot workflow (which the panel
// holds weakly), uploads (with their history beside the clip history) and the one automation
// dispatcher (whose confirmations show above the panel), and the AI actions of the panel (on-device
// recognition and language detection, and the Claude service). Objects go in the reverse order.
class AppServices {
public:
    // Takes the environment's prompt, if any; onRequest runs every accepted automation request.
    AppServices(AppEnvironment& environment, AutomationDispatcher::Handler onRequest);
    ~AppServices();
    AppServices(const AppServices&) = delete;
    AppServices& operator=(const AppServices&) = delete;

    ClipStore& store() const { return *store_; }
    ClipboardMonitor& monitor() const { return *monitor_; }
    PanelController& controller() const { return *controller_; }
    ScreenshotWorkflow& screenshots() const { return *screenshots_; }
    S3UploadController& uploads() const { return *uploads_; }
    AutomationDispatcher& dispatcher() const { return *dispatcher_; }
    // The Claude service, when the platform offers what it needs (none in some tests).
    ClaudeService* claude() const { return claude_.get(); }

private:
    // The upload controller's Cloudflare connection as the AI Gateway's token source.
    std::unique_ptr<CloudflareTokenSource> gatewayTokens_;
    std::unique_ptr<ClaudeService> claude_;
    std::unique_ptr<AIActionServices> aiActions_;
    std::unique_ptr<ClipStore> store_;
    std::unique_ptr<ClipboardMonitor> monitor_;
    std::unique_ptr<PanelController> controller_;
    std::unique_ptr<ScreenshotWorkflow> screenshots_;
    std::unique_ptr<S3UploadController> uploads_;
    std::unique_ptr<AutomationDispatcher> dispatcher_;
};

}  // namespace brevalto

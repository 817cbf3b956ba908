#include "App/AppServices.h"

#include "AI/AIActionBackend.h"
#include "AI/ClaudeService.h"
#include "App/AppEnvironment.h"
#include "Automation/AutomationAlertPrompt.h"
#include "Clipboard/ClipStore.h"
#include "Clipboard/ClipboardMonitor.h"
#include "Editor/ScreenshotEditorController.h"
#include "Panel/NotchPanel.h"
#include "Panel/PanelController.h"
#include "Upload/S3UploadController.h"
#include "Workflow/ScreenshotWorkflow.h"

namespace brevalto {

namespace {

// Hands the AI Gateway the upload controller's connection: one login, one renewal for both.
class GatewayTokens final : public CloudflareTokenSource {
public:
    explicit GatewayTokens(std::shared_ptr<CloudflareConnection> connection) : connection_(std::move(connection)) {}
    std::string keychainService() const override { return connection_->keychainService(); }
    std::string validAccessToken(std::stop_token cancel) override { return connection_->validAccessToken(cancel); }

private:
    std::shared_ptr<CloudflareConnection> connection_;
};

}  // namespace

AppServices::AppServices(AppEnvironment& env, AutomationDispatcher::Handler onRequest) {
    Defaults& defaults = *env.platform.defaults;
    store_ = std::make_unique<ClipStore>(env.dataFolder, *env.platform.clock);
    // What is on the clipboard now is never recorded.
    monitor_ = std::make_unique<ClipboardMonitor>(*store_, *env.platform.pasteboard, *env.platform.apps, defaults);
    controller_ = std::make_unique<PanelController>(*store_, *monitor_, *env.platform.screens, *env.platform.apps,
                                                    defaults);
    if (env.platform.keyboard) controller_->setKeyboard(*env.platform.keyboard);
    screenshots_ = std::make_unique<ScreenshotWorkflow>(
        *store_, *monitor_, *controller_, defaults, *env.platform.screens,
        ScreenshotWorkflow::CaptureParts{env.platform.screenCapture, env.platform.apps, env.platform.clock,
                                         env.platform.wheel, env.platform.rawKeys, env.stagingRoot});
    controller_->setScreenshots(screenshots_.get());
    const Platform& platform = env.platform;
    screenshots_->setRecognizer(platform.textRecognizer);
    if (platform.textRecognizer && platform.languageDetector && platform.keychain && platform.http &&
        platform.processes) {
        claude_ = std::make_unique<ClaudeService>(*platform.keychain, *platform.http, *platform.processes);
        aiActions_ = std::make_unique<AIActionServices>(*platform.textRecognizer, *platform.languageDetector,
                                                        *claude_, defaults);
        controller_->setAIActions(aiActions_.get());
    }
    uploads_ = std::make_unique<S3UploadController>(
        env.platform.pasteboard, defaults, S3UploadController::defaultKeychainService(), store_->root() / "uploads.json",
        S3UploadController::Parts{.keychain = platform.keychain, .http = platform.http, .clock = platform.clock});
    screenshots_->setUploads(uploads_.get());
    gatewayTokens_ = std::make_unique<GatewayTokens>(uploads_->sharedCloudflare());
    if (claude_) claude_->setCloudflare(gatewayTokens_.get());
    dispatcher_ = std::make_unique<AutomationDispatcher>(
        env.prompt ? std::move(env.prompt) : std::make_unique<AutomationAlertPrompt>(controller_->panel()));
    dispatcher_->setOnRequest(std::move(onRequest));
    screenshots_->setDispatcher(dispatcher_.get());
    controller_->setDispatcher(dispatcher_.get());
}

AppServices::~AppServices() = default;

}  // namespace brevalto

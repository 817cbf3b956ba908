#include "Capture/CaptureCoordinator.h"

#include "Capture/CaptureEngine.h"
#include "Capture/CaptureError.h"
#include "Capture/CaptureInteraction.h"
#include "Errors/AIError.h"
#include "Platform/Counts.h"

#include <QCoreApplication>
#include <QPointer>

#include <algorithm>
#include <cmath>

namespace brevalto {

using Kind = CaptureError::Kind;

struct CaptureCoordinator::Run {
    Completion done;
    std::optional<AppIdentity> target;
    std::stop_source work;
    std::unique_ptr<std::stop_callback<std::function<void()>>> callerStop;
};

namespace {

bool sameOwner(const ScreenCaptureWindow& a, const ScreenCaptureWindow& b) { return a.processId == b.processId; }

bool isCandidate(const ScreenCaptureWindow& w) {
    const std::int64_t own = QCoreApplication::applicationPid();
    return w.onScreen && w.ordinary() && w.frame.width() > 1 && w.frame.height() > 1 &&
           (w.processId == 0 || w.processId != own);
}

bool isCurrent(const CaptureDisplay& display, const std::vector<CaptureDisplay>& current) {
    return std::find(current.begin(), current.end(), display) != current.end();
}

}  // namespace

CaptureCoordinator::CaptureCoordinator(CaptureEngine& engine, CaptureInteraction& interaction, CaptureTimer& timer,
                                       Apps* apps, QObject* parent)
    : QObject(parent), engine_(engine), interaction_(interaction), timer_(timer), apps_(apps) {}

CaptureCoordinator::~CaptureCoordinator() {
    const auto run = std::move(run_);
    selection_ = nullptr;
    timer_.stop();
    if (run) run->work.request_stop();
    interaction_.closeChooser();
    interaction_.closeOverlays();
}

QString CaptureCoordinator::windowChoiceTitle(const ScreenCaptureWindow& window) {
    const QString app = window.appClass.isEmpty() ? QStringLiteral("App") : window.appClass;
    const QString title = window.title.isNull() ? QStringLiteral("Window %1").arg(window.id) : window.title;
    return app + QStringLiteral(" - ") + title;
}

QStringList CaptureCoordinator::displayChoiceTitles(const std::vector<CaptureDisplay>& displays, bool offerAll) {
    QStringList items;
    for (const auto& d : displays) {
        items << QStringLiteral("Display %1 - %2 x %3 px")
                     .arg(d.id)
                     .arg(static_cast<long long>(d.pixelSize.width()))
                     .arg(static_cast<long long>(d.pixelSize.height()));
    }
    if (offerAll) items << QStringLiteral("All displays - region can span screens");
    return items;
}

void CaptureCoordinator::capture(const CaptureRequest& request, Completion done, std::stop_token stop) {
    if (stop.stop_requested()) throw CaptureCancelled();
    if (run_) throw CaptureError(Kind::busy);
    if (request.delay < 0 || request.delay > 60) throw AIError(delayOutOfRange);
    setState(CaptureState::selecting);
    setMessage(QStringLiteral("Preparing capture"));

    auto run = std::make_shared<Run>();
    run->done = std::move(done);
    if (request.applicationPID) {
        try {
            for (const auto& w : engine_.windows()) {
                if (w.processId == *request.applicationPID) {
                    run->target = AppIdentity{w.appClass, w.title, w.processId, w.id};
                    break;
                }
            }
        } catch (const CaptureError&) {
            // Without screen access there is no window to tell the application by.
        }
    }
    if (!run->target && apps_) run->target = apps_->frontmost();

    CaptureRequest copy = request;
    if (copy.mode == CaptureMode::activeWindow && !copy.windowID) {
        copy.windowID = engine_.frontWindowID(run->target ? std::optional<std::int64_t>(run->target->processId)
                                                          : std::nullopt);
    }
    run_ = run;
    if (stop.stop_possible()) {
        QPointer<CaptureCoordinator> self(this);
        std::weak_ptr<Run> weak = run;
        run->callerStop = std::make_unique<std::stop_callback<std::function<void()>>>(
            stop, std::function<void()>([self, weak] {
                if (auto r = weak.lock()) r->work.request_stop();
                if (!self) return;
                Task::post(self.data(), [self, weak] {
                    if (self && self->run_ && self->run_ == weak.lock()) self->cancelCapture();
                });
            }));
    }
    Task::post(this, guarded([this, copy] { perform(copy); }));
}

void CaptureCoordinator::perform(CaptureRequest request) {
    if (cancelled()) return endCancelled();
    const std::vector<CaptureDisplay> displays = engine_.displays();

    switch (request.mode) {
    case CaptureMode::repeatRegion: {
        if (!lastRegion_ || !lastRegion_->isStillValid(displays)) throw CaptureError(Kind::unavailableTarget);
        const CaptureRegion region = *lastRegion_;
        runCountdown(request.delay, [this, request, region] {
            setState(CaptureState::capturing);
            CapturedScreenshot shot = engine_.captureRect(region.displays, request, region.rect, stopToken());
            shot.windowID.reset();
            succeed(std::move(shot));
        });
        return;
    }
    case CaptureMode::window:
    case CaptureMode::activeWindow:
        return performWindow(request);
    case CaptureMode::screen:
    case CaptureMode::region:
        return performDisplays(request, displays);
    }
}

void CaptureCoordinator::performWindow(const CaptureRequest& request) {
    std::vector<ScreenCaptureWindow> candidates = engine_.windows(stopToken());
    std::erase_if(candidates, [](const ScreenCaptureWindow& w) { return !isCandidate(w); });

    auto shoot = [this, request](const ScreenCaptureWindow& chosen) {
        runCountdown(request.delay, [this, request, chosen] {
            setState(CaptureState::capturing);
            const auto now = engine_.windows(stopToken());
            const auto fresh = std::find_if(now.begin(), now.end(), [&](const ScreenCaptureWindow& w) {
                return w.id == chosen.id && sameOwner(w, chosen);
            });
            if (fresh == now.end()) throw CaptureError(Kind::unavailableTarget);
            succeed(engine_.captureWindowImage(*fresh, request, stopToken()));
        });
    };

    if (request.windowID) {
        const auto found = std::find_if(candidates.begin(), candidates.end(),
                                        [&](const ScreenCaptureWindow& w) { return w.id == *request.windowID; });
        if (found == candidates.end()) return endCancelled();
        return shoot(*found);
    }
    if (request.mode == CaptureMode::activeWindow) throw CaptureError(Kind::unavailableTarget);
    chooseWindow(candidates, [this, shoot](std::optional<ScreenCaptureWindow> chosen) {
        if (!chosen) return endCancelled();
        shoot(*chosen);
    });
}

void CaptureCoordinator::performDisplays(const CaptureRequest& request, const std::vector<CaptureDisplay>& displays) {
    const bool offerAll = request.mode == CaptureMode::region && request.allowsCrossDisplay;
    chooseDisplays(displays, request.displayID, offerAll,
                   [this, request](std::optional<std::vector<CaptureDisplay>> chosen) {
                       if (!chosen) return endCancelled();
                       const CaptureDisplay surface = CaptureDisplay::surface(*chosen);
                       const std::vector<CaptureDisplay> set = *chosen;
                       runCountdown(request.delay, [this, request, set, surface] {
                           setState(CaptureState::capturing);
                           CapturedScreenshot frozen = engine_.captureRect(set, request, std::nullopt, stopToken());
                           if (request.mode == CaptureMode::screen) return succeed(std::move(frozen));
                           selectRegion(request, set, surface, frozen);
                       });
                   });
}

void CaptureCoordinator::selectRegion(const CaptureRequest& request, const std::vector<CaptureDisplay>& chosen,
                                      const CaptureDisplay& surface, const CapturedScreenshot& frozen) {
    setState(CaptureState::selecting);
    setMessage(request.finishesSelectionOnMouseUp
                   ? QStringLiteral("Drag a viewport. Release to start scrolling; Escape cancels.")
                   : QStringLiteral("Frozen frame. Drag a region, including across selected displays, then press "
                                    "Return."));
    if (cancelled()) return finishRegion(request, chosen, surface, frozen, Selection::cancel());

    // The clean-up drops this continuation, so it only ever runs for the current capture.
    selection_ = [this, request, chosen, surface, frozen](Selection s) {
        finishRegion(request, chosen, surface, frozen, s);
    };
    CaptureInteraction::Selection shown{frozen.image, frozen.scale, chosen, surface,
                                        request.finishesSelectionOnMouseUp};
    QPointer<CaptureCoordinator> self(this);
    interaction_.showSelection(shown, [self](Selection s) {
        if (self) self->finishSelection(s);
    });
}

void CaptureCoordinator::finishRegion(const CaptureRequest& request, const std::vector<CaptureDisplay>& chosen,
                                      const CaptureDisplay& surface, const CapturedScreenshot& frozen,
                                      const Selection& selection) {
    attempt([&] {
        if (cancelled()) return endCancelled();
        const std::vector<CaptureDisplay> now = engine_.displays();
        for (const auto& d : chosen) {
            if (!isCurrent(d, now)) throw CaptureError(Kind::unavailableTarget);
        }
        switch (selection.kind) {
        case Selection::Kind::cancel:
            return endCancelled();
        case Selection::Kind::window: {
            CaptureRequest again = request;
            again.mode = CaptureMode::window;
            again.delay = 0;
            return perform(again);
        }
        case Selection::Kind::region:
            break;
        }
        setState(CaptureState::processing);
        const QRectF r = selection.rect;
        const QRect pixels(static_cast<int>(std::floor(r.x())), static_cast<int>(std::floor(r.y())),
                           static_cast<int>(std::ceil(r.x() + r.width()) - std::floor(r.x())),
                           static_cast<int>(std::ceil(r.y() + r.height()) - std::floor(r.y())));
        const QRect crop = pixels.intersected(frozen.image.rect());
        if (!isFiniteNonEmpty(r) || crop.isEmpty()) throw CaptureError(Kind::invalidRegion);
        const QRectF points = surface.pointRect(QRectF(crop));
        CaptureRegion region{chosen, points};
        if (!region.isStillValid(now)) throw CaptureError(Kind::invalidRegion);
        lastRegion_ = region;
        CapturedScreenshot shot;
        shot.image = frozen.image.copy(crop);
        shot.scale = surface.scale();
        shot.screenRect = points;
        shot.displayID = surface.id;
        succeed(std::move(shot));
    });
}

void CaptureCoordinator::chooseWindow(const std::vector<ScreenCaptureWindow>& candidates,
                                      std::function<void(std::optional<ScreenCaptureWindow>)> chosen) {
    if (candidates.empty()) return chosen(std::nullopt);
    CaptureInteraction::Choice choice;
    choice.message = QStringLiteral("Choose a window");
    choice.informative = QStringLiteral("Brevalto windows are excluded.");
    for (const auto& w : candidates) choice.items << windowChoiceTitle(w);
    choice.accept = QStringLiteral("Capture");
    std::weak_ptr<Run> weak = run_;
    interaction_.choose(choice, [this, weak, candidates, chosen](std::optional<int> index) {
        if (!weak.lock() || weak.lock() != run_) return;
        attempt([&] {
            if (!index || cancelled() || *index < 0 || *index >= static_cast<int>(candidates.size())) {
                return chosen(std::nullopt);
            }
            chosen(candidates[static_cast<std::size_t>(*index)]);
        });
    });
}

void CaptureCoordinator::chooseDisplays(const std::vector<CaptureDisplay>& displays,
                                        std::optional<std::uint32_t> displayID, bool offerAll,
                                        std::function<void(std::optional<std::vector<CaptureDisplay>>)> chosen) {
    if (displayID) {
        const auto found = std::find_if(displays.begin(), displays.end(),
                                        [&](const CaptureDisplay& d) { return d.id == *displayID; });
        if (found == displays.end()) return chosen(std::nullopt);
        return chosen(std::vector<CaptureDisplay>{*found});
    }
    if (displays.size() == 1) return chosen(displays);
    if (displays.empty()) return chosen(std::nullopt);

    CaptureInteraction::Choice choice;
    choice.message = QStringLiteral("Choose a display");
    choice.informative =
        offerAll ? QStringLiteral("All displays uses the highest display scale, uniform nearest-neighbor upscaling "
                                  "and sRGB. Gaps stay transparent. Frozen frames are captured sequentially, not "
                                  "atomically. 40 MP maximum.")
                 : QStringLiteral("Select one display for this capture.");
    choice.items = displayChoiceTitles(displays, offerAll);
    choice.accept = QStringLiteral("Choose");
    std::weak_ptr<Run> weak = run_;
    interaction_.choose(choice, [this, weak, displays, offerAll, chosen](std::optional<int> index) {
        if (!weak.lock() || weak.lock() != run_) return;
        attempt([&] {
            const int count = static_cast<int>(displays.size());
            if (!index || cancelled() || *index < 0 || *index > count || (*index == count && !offerAll)) {
                return chosen(std::nullopt);
            }
            if (*index == count) return chosen(displays);
            chosen(std::vector<CaptureDisplay>{displays[static_cast<std::size_t>(*index)]});
        });
    });
}

void CaptureCoordinator::runCountdown(int seconds, Step then) {
    if (seconds < 1) {
        if (cancelled()) return endCancelled();
        return then();
    }
    countdownTick(seconds, std::move(then));
}

void CaptureCoordinator::countdownTick(int seconds, Step then) {
    if (cancelled()) return endCancelled();
    setCountdown(seconds);
    setMessage(QStringLiteral("Capture in ") + counted(seconds, QStringLiteral("second"), QStringLiteral("seconds")));
    QPointer<CaptureCoordinator> self(this);
    interaction_.showCountdown(seconds, [self] {
        if (self) self->cancelCapture();
    });
    countdownPending_ = true;
    timer_.start(1.0, guarded([this, seconds, then] {
        countdownPending_ = false;
        if (seconds > 1) return countdownTick(seconds - 1, then);
        interaction_.closeOverlays();
        setCountdown(0);
        then();
    }));
}

CaptureCoordinator::Step CaptureCoordinator::guarded(Step body) {
    std::weak_ptr<Run> weak = run_;
    QPointer<CaptureCoordinator> self(this);
    return [self, weak, body = std::move(body)] {
        if (!self) return;
        const auto run = weak.lock();
        if (!run || run != self->run_) return;
        self->attempt(body);
    };
}

void CaptureCoordinator::attempt(const Step& body) {
    try {
        body();
    } catch (...) {
        fail(std::current_exception());
    }
}

bool CaptureCoordinator::cancelled() const { return run_ && run_->work.stop_requested(); }

std::stop_token CaptureCoordinator::stopToken() const { return run_ ? run_->work.get_token() : std::stop_token(); }

void CaptureCoordinator::finishSelection(const Selection& selection) {
    interaction_.closeOverlays();
    if (!selection_) return;
    auto resume = std::move(selection_);
    selection_ = nullptr;
    resume(selection);
}

void CaptureCoordinator::cancelCapture() {
    if (run_) {
        run_->work.request_stop();
        if (countdownPending_) {
            timer_.stop();
            countdownPending_ = false;
            endCancelled();
        } else {
            interaction_.closeChooser();
        }
    }
    finishSelection(Selection::cancel());
}

void CaptureCoordinator::succeed(CapturedScreenshot shot) {
    if (cancelled()) return endCancelled();
    finish(CaptureState::completed, QStringLiteral("Captured"), Result(std::optional<CapturedScreenshot>(std::move(shot))));
}

void CaptureCoordinator::endCancelled() {
    finish(CaptureState::cancelled, QStringLiteral("Capture cancelled"), Result(std::optional<CapturedScreenshot>()));
}

void CaptureCoordinator::fail(std::exception_ptr error) {
    if (cancelled()) return endCancelled();
    try {
        std::rethrow_exception(error);
    } catch (const CaptureCancelled&) {
        return endCancelled();
    } catch (const std::exception& e) {
        finish(CaptureState::failed, QString::fromUtf8(e.what()), Result(error));
    } catch (...) {
        finish(CaptureState::failed, QStringLiteral("The capture failed."), Result(error));
    }
}

void CaptureCoordinator::finish(CaptureState state, const QString& message, Result result) {
    if (!run_) return;
    const auto run = run_;
    setState(state);
    setMessage(message);
    restoreAfterCapture(run->target);
    if (run->done) run->done(std::move(result));
}

void CaptureCoordinator::restoreAfterCapture(const std::optional<AppIdentity>& target) {
    // The capture is over before the windows go, so a chooser closing now answers nobody.
    run_.reset();
    selection_ = nullptr;
    timer_.stop();
    countdownPending_ = false;
    interaction_.closeChooser();
    interaction_.closeOverlays();
    setCountdown(0);
    if (target && apps_ && target->processId != QCoreApplication::applicationPid()) apps_->activate(*target);
}

void CaptureCoordinator::setState(CaptureState state) {
    if (state_ == state) return;
    state_ = state;
    emit stateChanged(state);
}

void CaptureCoordinator::setMessage(const QString& message) {
    if (message_ == message) return;
    message_ = message;
    emit messageChanged(message);
}

void CaptureCoordinator::setCountdown(int seconds) {
    if (countdown_ == seconds) return;
    countdown_ = seconds;
    emit countdownChanged(seconds);
}

}  // namespace brevalto

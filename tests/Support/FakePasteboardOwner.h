#pragma once

#include "QtWait.h"

#include <QByteArray>
#include <QProcess>
#include <QStringList>

#include <xcb/xcb.h>

#include <poll.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <optional>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace brevalto {

// Another X client that owns the CLIPBOARD selection, for tests that need more than xclip can
// do: several targets at once, and owners that answer badly (never, with nothing, in the wrong
// format, or going away in the middle of a transfer) target by target or altogether. It has
// its own X connection and serves requests on its own thread until it is destroyed or loses the
// selection.
class FakePasteboardOwner {
public:
    // How the owner answers a request for one target.
    enum class Answer {
        value,            // the bytes, in one property of format 8
        empty,            // a property of the target's type that holds nothing
        refuse,           // no property: the owner does not have it
        silent,           // never answers
        wrongFormat,      // the bytes as a list of 32-bit numbers
        incremental,      // the bytes in parts of 64 KiB (INCR)
        slowIncremental,  // the same, each part 20 ms after the requestor asked for it
        quitMidTransfer,  // announces parts, sends the first, then goes away
    };
    struct Target {
        std::string name;
        std::string bytes;
        Answer answer = Answer::value;
    };
    enum class Behaviour {
        answer,          // serves its targets
        silent,          // takes the selection and never answers a request
        garbageTargets,  // answers TARGETS with bytes that are no atom list
    };

    explicit FakePasteboardOwner(std::vector<Target> targets, Behaviour behaviour = Behaviour::answer)
        : targets_(std::move(targets)), behaviour_(behaviour) {
        connection_ = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(connection_)) return;
        xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data;
        window_ = xcb_generate_id(connection_);
        const std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
        xcb_create_window(connection_, XCB_COPY_FROM_PARENT, window_, screen->root, 0, 0, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &mask);
        clipboard_ = atom("CLIPBOARD");
        targetsAtom_ = atom("TARGETS");
        for (auto& target : targets_) atoms_.push_back(atom(target.name));
        xcb_set_selection_owner(connection_, window_, clipboard_, XCB_CURRENT_TIME);
        auto reply = xcb_get_selection_owner_reply(connection_, xcb_get_selection_owner(connection_, clipboard_), nullptr);
        owns_ = reply && reply->owner == window_;
        std::free(reply);
        thread_ = std::thread([this] { serve(); });
    }

    ~FakePasteboardOwner() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        xcb_disconnect(connection_);
    }

    FakePasteboardOwner(const FakePasteboardOwner&) = delete;
    FakePasteboardOwner& operator=(const FakePasteboardOwner&) = delete;

    bool owns() const { return owns_; }
    int requests() const { return requests_; }
    // Incremental transfers sent to their final, empty part.
    int finishedTransfers() const { return finished_; }

private:
    xcb_atom_t atom(const std::string& name) {
        auto reply = xcb_intern_atom_reply(
            connection_, xcb_intern_atom(connection_, 0, static_cast<std::uint16_t>(name.size()), name.data()), nullptr);
        xcb_atom_t value = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
        std::free(reply);
        return value;
    }

    void serve() {
        pollfd descriptor{xcb_get_file_descriptor(connection_), POLLIN, 0};
        while (!stop_ && !gone_) {
            while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
                const auto type = event->response_type & 0x7f;
                if (type == XCB_SELECTION_REQUEST) {
                    ++requests_;
                    answer(*reinterpret_cast<xcb_selection_request_event_t*>(event));
                } else if (type == XCB_PROPERTY_NOTIFY) {
                    continueTransfer(*reinterpret_cast<xcb_property_notify_event_t*>(event));
                }
                std::free(event);
            }
            if (xcb_connection_has_error(connection_)) return;
            ::poll(&descriptor, 1, 10);
        }
    }

    // An incremental transfer in progress: the requestor deletes the property to ask for the next part.
    struct Transfer {
        xcb_window_t requestor = 0;
        xcb_atom_t property = 0;
        xcb_atom_t type = 0;
        std::string bytes;
        std::size_t sent = 0;
        bool quit = false;
        bool slow = false;
        bool done = false;
    };

    void continueTransfer(const xcb_property_notify_event_t& notify) {
        if (notify.state != XCB_PROPERTY_DELETE || transfer_.done || notify.window != transfer_.requestor ||
            notify.atom != transfer_.property)
            return;
        if (transfer_.quit && transfer_.sent > 0) {
            // Goes away in the middle, as a program that quits does.
            xcb_destroy_window(connection_, window_);
            xcb_flush(connection_);
            gone_ = true;
            return;
        }
        if (transfer_.slow) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        constexpr std::size_t part = 64 * 1024;
        const std::size_t size = std::min(part, transfer_.bytes.size() - transfer_.sent);
        xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, transfer_.requestor, transfer_.property, transfer_.type,
                            8, static_cast<std::uint32_t>(size), transfer_.bytes.data() + transfer_.sent);
        transfer_.sent += size;
        if (size == 0) {
            transfer_.done = true;
            ++finished_;
            const std::uint32_t none = XCB_EVENT_MASK_NO_EVENT;
            xcb_change_window_attributes(connection_, transfer_.requestor, XCB_CW_EVENT_MASK, &none);
        }
        xcb_flush(connection_);
    }

    void answer(const xcb_selection_request_event_t& request) {
        if (behaviour_ == Behaviour::silent) return;
        xcb_atom_t property = request.property == XCB_ATOM_NONE ? request.target : request.property;
        bool served = false;
        if (request.target == targetsAtom_) {
            if (behaviour_ == Behaviour::garbageTargets) {
                const char garbage[] = "\x01\x02not atoms";
                xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, request.requestor, property, XCB_ATOM_STRING, 8,
                                    sizeof garbage - 1, garbage);
            } else {
                std::vector<xcb_atom_t> list = atoms_;
                list.push_back(targetsAtom_);
                xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, request.requestor, property, XCB_ATOM_ATOM, 32,
                                    static_cast<std::uint32_t>(list.size()), list.data());
            }
            served = true;
        } else {
            for (std::size_t i = 0; i < targets_.size(); ++i) {
                if (atoms_[i] != request.target) continue;
                const Target& target = targets_[i];
                switch (target.answer) {
                case Answer::silent:
                    return;
                case Answer::refuse:
                    break;
                case Answer::value:
                case Answer::empty:
                    xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, request.requestor, property, request.target,
                                        8, target.answer == Answer::empty ? 0u : static_cast<std::uint32_t>(target.bytes.size()),
                                        target.bytes.data());
                    served = true;
                    break;
                case Answer::wrongFormat:
                    xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, request.requestor, property, XCB_ATOM_INTEGER,
                                        32, static_cast<std::uint32_t>(target.bytes.size() / 4), target.bytes.data());
                    served = true;
                    break;
                case Answer::incremental:
                case Answer::slowIncremental:
                case Answer::quitMidTransfer: {
                    transfer_ = Transfer{request.requestor, property, request.target, target.bytes, 0,
                                         target.answer == Answer::quitMidTransfer,
                                         target.answer == Answer::slowIncremental, false};
                    const std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
                    xcb_change_window_attributes(connection_, request.requestor, XCB_CW_EVENT_MASK, &mask);
                    const auto size = static_cast<std::uint32_t>(target.bytes.size());
                    xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, request.requestor, property, atom("INCR"), 32,
                                        1, &size);
                    served = true;
                    break;
                }
                }
                break;
            }
        }
        xcb_selection_notify_event_t notify;
        std::memset(&notify, 0, sizeof notify);
        notify.response_type = XCB_SELECTION_NOTIFY;
        notify.time = request.time;
        notify.requestor = request.requestor;
        notify.selection = request.selection;
        notify.target = request.target;
        notify.property = served ? property : xcb_atom_t{XCB_ATOM_NONE};
        xcb_send_event(connection_, 0, request.requestor, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&notify));
        xcb_flush(connection_);
    }

    std::vector<Target> targets_;
    Behaviour behaviour_;
    xcb_connection_t* connection_ = nullptr;
    xcb_window_t window_ = 0;
    xcb_atom_t clipboard_ = 0;
    xcb_atom_t targetsAtom_ = 0;
    std::vector<xcb_atom_t> atoms_;
    bool owns_ = false;
    Transfer transfer_;
    std::atomic<bool> gone_{false};
    std::atomic<bool> stop_{false};
    std::atomic<int> requests_{0};
    std::atomic<int> finished_{0};
    std::thread thread_;
};

// xclip, the other X client most tests copy and paste with.
namespace Xclip {

// Copies a file's bytes to the CLIPBOARD selection as one target; returns when xclip owns it
// (xclip then serves from the background until another client takes the selection).
inline bool copyFile(const QString& file, const QString& target = QStringLiteral("UTF8_STRING")) {
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start(QStringLiteral("xclip"), {QStringLiteral("-selection"), QStringLiteral("clipboard"),
                                            QStringLiteral("-t"), target, QStringLiteral("-i"), file});
    return process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

// Reads one target of the CLIPBOARD selection, keeping the event loop running meanwhile (content
// that we own is served from this thread). None when xclip failed or took too long.
inline std::optional<QByteArray> paste(const QString& target = QStringLiteral("UTF8_STRING"), int timeoutMs = 10000) {
    QProcess process;
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start(QStringLiteral("xclip"), {QStringLiteral("-selection"), QStringLiteral("clipboard"),
                                            QStringLiteral("-t"), target, QStringLiteral("-o")});
    QByteArray out;
    const bool done = waitUntil(
        [&] {
            out += process.readAllStandardOutput();
            return process.state() == QProcess::NotRunning;
        },
        timeoutMs);
    if (!done) {
        process.kill();
        process.waitForFinished(1000);
        return std::nullopt;
    }
    out += process.readAllStandardOutput();
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) return std::nullopt;
    return out;
}

}  // namespace Xclip

}  // namespace brevalto

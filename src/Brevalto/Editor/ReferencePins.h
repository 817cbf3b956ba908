#pragma once

#include <QImage>

#include <functional>

namespace brevalto {

// Floating reference windows as the editor asks for them: one call opens a new window showing a
// rendered image, with an action that brings its document back into the editor. The screenshot
// workflow's pin controller implements it and hands it to the editor controller.
class ReferencePins {
public:
    virtual ~ReferencePins() = default;
    // Opens a new pin showing the image unchanged; never fails. reopen is kept for the pin's life.
    virtual void showReference(const QImage& image, std::function<void()> reopen) = 0;
};

}  // namespace brevalto
